#ifndef SMARTSPEED_H
#define SMARTSPEED_H

#include <QObject>
#include <QPointer>

#include <memory>

class ClipDownload;
class SpeechAnalysis;
class SpeechState;

typedef struct _GstElement GstElement;

// Smart speed for the player: pauses in speech shortened, and the voice
// brought to an even loudness. Both switches stay as set for every later
// clip. The player hands over each clip and plays it through the filter
// made here; while either switch is on, the clip is analysed as it
// arrives, in a pipeline of its own.
class SmartSpeed : public QObject
{
    Q_OBJECT

public:
    explicit SmartSpeed(QObject *parent = nullptr);
    ~SmartSpeed() override;

    // The player's audio filter: the shortening and the boost, then
    // `tempo`. Null if it cannot be made; whoever takes it owns it.
    GstElement *audioFilter(GstElement *tempo);

    // The current clip; null for none. Set while the player is stopped.
    void setClip(ClipDownload *clip);

    void setSkipSilence(bool on);
    void setBoostVoice(bool on);

    // The analysis has heard the whole clip.
    bool isAnalysed() const;

    // The clip's time at a time the pipeline reports, which counts only
    // what was played since it last started or sought.
    qint64 clipMs(qint64 playedMs) const;
    // Listening time saved by shortened pauses, in the current clip and
    // since this player was made.
    qint64 savedInClipMs() const { return m_savedInClipUs / 1000; }
    qint64 savedMs() const { return m_savedUs / 1000; }
    // Playback has played up to this time, as the pipeline counts it: the
    // cuts it passed count as saved. A seek forgets the cuts not passed.
    void played(qint64 playedMs);

signals:
    void savedChanged();
    // A switch was turned: what is heard from now on is to change at once.
    void switched();

private:
    void analyse();

    GstElement *m_filter = nullptr; // a reference of our own
    QPointer<ClipDownload> m_clip;
    std::shared_ptr<SpeechState> m_state;
    std::unique_ptr<SpeechAnalysis> m_analysis;
    bool m_skip = false;
    bool m_boost = false;
    qint64 m_savedInClipUs = 0;
    qint64 m_savedUs = 0;
};

#endif // SMARTSPEED_H
