#ifndef SMARTFILTER_H
#define SMARTFILTER_H

#include <QtGlobal>

#include <memory>

class SpeechState;

typedef struct _GstElement GstElement;

// The element in the player's audio filter, ahead of scaletempo: a thin
// shell that hands the samples to a SmartProcessor, which shortens the
// pauses a SpeechState has planned and brings the voice to the loudness it
// measured. Whatever it cuts, it plays on without a gap; what it plays is
// timed in the clip's time less what it has cut since the pipeline last
// started or sought, and clipUs() tells the clip's time back from that.
// Both switches may change while it plays. A flush or a stop never waits
// for the analysis.
namespace SmartFilter {

GstElement *create();
// Whose plan and loudness to follow: set while the pipeline is stopped.
void setState(GstElement *filter, std::shared_ptr<SpeechState> state);
void setSkipSilence(GstElement *filter, bool on);
void setBoostVoice(GstElement *filter, bool on);
qint64 clipUs(GstElement *filter, qint64 playedUs);
// The listening time saved by the cuts that playback has passed, once it
// has played up to playedUs, and that were not counted before.
qint64 takeSavedUs(GstElement *filter, qint64 playedUs);

} // namespace SmartFilter

#endif // SMARTFILTER_H
