#ifndef SMARTPROCESSOR_H
#define SMARTPROCESSOR_H

#include "speechplan.h"

#include <QMutex>

#include <atomic>
#include <memory>
#include <vector>

class SpeechState;

// Shortens the pauses a SpeechState has planned, in the samples that
// play. Each cut is faded at both ends and booked in a cut map, so that the
// clip's time can be told back from the time played.
class PauseCutter
{
public:
    // The map is guarded by `lock`, as the GUI thread reads it.
    PauseCutter(SpeechPlan::CutMap *cuts, QMutex *lock);

    void setRate(int rate);
    // What a cut saves is counted at the playback speed.
    void setSpeed(double speed) { m_speed = speed; }
    // Played time starts again: a seek may land in a pause.
    void restart();
    // The clip goes on at another rate: what was cut is counted at it.
    void changeRate(int rate);
    // The clip ended, perhaps within a cut.
    void finish();

    // Where the cuts planned from `sample` on are looked for.
    void look(const SpeechState &state, qint64 sample, bool skipping);
    // Whether `sample` plays, and at what fade; false if it is cut.
    bool plays(qint64 sample, const SpeechState &state, bool skipping, double *fade);
    // `sample` has played.
    void played(qint64 sample);
    // Samples cut since played time last started again.
    qint64 cutSamples() const { return m_cutSamples; }
    bool isCutting() const { return m_skipping; }
    bool isFading() const { return m_fadeOut > 0 || m_fadeIn > 0; }
    // Nothing has played since played time started again.
    bool isLanding() const { return m_landing; }
    void landed() { m_landing = false; }

private:
    // The cut planned next, in samples of the clip at the stream's rate.
    struct SampleCut
    {
        qint64 start = 0;
        qint64 end = 0;
    };

    qint64 toSamples(qint64 us) const { return (us * m_rate + 500000) / 1000000; }
    qint64 toUs(qint64 samples) const { return samples * 1000000 / m_rate; }
    bool nextCut(const SpeechState &state, qint64 sample);
    void planAt(qint64 sample, const SpeechState &state);
    void startCut(qint64 from, qint64 to);
    void endCut();

    SpeechPlan::CutMap *m_cuts;
    QMutex *m_lock;
    int m_rate = 1;
    int m_fadeFrames = 1;
    double m_speed = 1.0;
    qint64 m_cutSamples = 0;  // cut since played time started again
    bool m_landing = true;    // the segment's first sample is yet to come
    bool m_skipping = false;
    qint64 m_skipEnd = 0;
    qint64 m_cutPlayed = 0;   // where the cut under way was made, in samples played
    qint64 m_cutBefore = 0;   // what was cut before it
    qint64 m_cutEnd = 0;      // where the cut being faded into ends
    int m_fadeOut = 0;        // frames left
    int m_fadeIn = 0;
    bool m_haveCut = false;
    SampleCut m_cut;
};

// Brings a voice to the loudness the analysis measured: a gain that ramps,
// and a gentle high-pass that comes and goes with it.
class VoiceLeveller
{
public:
    void setFormat(int rate, int channels);
    void begin(bool boosting, double gain); // at a clip's start: at once
    void ramp(double gainTarget, double mixTarget);
    void reset() { m_highPass.reset(); }
    // The high-pass, as far as it is mixed in.
    double filter(double sample, int channel);
    double gain() const { return m_gain; }
    bool isActive() const { return m_gain != 1.0 || m_mix != 0.0; }
    bool isMixing() const { return m_mix > 0; }

private:
    double m_gain = 1.0;
    double m_mix = 0.0; // of the high-pass
    double m_ramp = 0;
    SpeechPlan::HighPass m_highPass;
};

// Keeps every peak the boost would push over the ceiling under it, by
// lowering the level ahead of the peak, never by flattening it: it looks
// at the peaks the analysis found around each 10 ms.
class PeakLimiter
{
public:
    void setRate(int rate);
    void begin(bool boosting); // at a clip's start
    void restart() { m_block = -1; }
    // What the limit is to be at this time of the clip.
    double target(qint64 us, const SpeechState &state, double gain, bool boosting);
    void ramp(double target);
    double limit() const { return m_limit; }

private:
    double m_limit = 1.0; // below 0: to be set at once
    qint64 m_block = -1;
    double m_target = 1.0;
    double m_attack = 0;
    double m_release = 0;
};

// What smart speed does to the samples the player plays, apart from any
// pipeline: the pause cutter, the voice leveller and the limiter over spans
// of interleaved float samples that carry the clip's time. The switches and
// the state are set from the GUI thread, the rest runs on the streaming
// thread; the cut map is read from both. Time is counted in samples: the
// clip's own from the spans' timestamps, and what was played as that less
// the samples cut, so that the timestamps going out always agree with the
// samples that go out. It waits for the analysis, briefly, where what it
// is to do depends on it; a flush or a stop ends a wait at once.
class SmartProcessor
{
public:
    SmartProcessor();

    // What plays of a span.
    struct Output
    {
        enum class Kind { Nothing, Input, Samples };
        Kind kind = Kind::Input;
        qint64 ptsNs = -1;      // where it plays; -1: where the input would
        qint64 durationNs = -1; // Samples: how long they play
        std::vector<float> samples;
    };

    void setSkipSilence(bool on) { m_skip = on; }
    void setBoostVoice(bool on) { m_boost = on; }
    // Whose plan and loudness to follow: set while nothing plays.
    void setState(std::shared_ptr<SpeechState> state);
    // The clip's time at a time played since played time last started.
    qint64 clipUs(qint64 playedUs) const;
    // The listening time saved by the cuts that playback has passed, once
    // it has played up to playedUs, and that were not counted before.
    qint64 takeSavedUs(qint64 playedUs);

    void setFormat(int rate, int channels);
    int rate() const { return m_rate; }
    // Played time starts again (a segment): `timed` if it counts time, at
    // this playback speed.
    void startSegment(bool timed, double speed);
    // A flush or a stop: a wait for the analysis ends at once, and none
    // begins until it is over.
    void interrupt(bool on);
    void flushed() { m_leveller.reset(); }
    // The clip ended, perhaps within a cut.
    void endOfStream();
    // Where a time of the clip is played, as played time counts it.
    qint64 outputNs(qint64 inputNs) const;
    // The longest span process() takes at once: the analysis is waited
    // for before each, and a sink that keeps time takes them one by one.
    std::size_t pieceFrames() const;
    // A span of `frames` interleaved samples that starts at ptsNs of the
    // clip (-1: not timed).
    Output process(const float *samples, std::size_t frames, qint64 ptsNs);

private:
    bool idle() const;
    qint64 toSamples(qint64 us) const { return (us * m_rate + 500000) / 1000000; }
    qint64 toUs(qint64 samples) const { return samples * 1000000 / m_rate; }
    void beginClip(SpeechState *state, bool boosting);
    qint64 place(qint64 ptsNs, std::size_t frames);
    Output passOn(const float *samples, std::size_t frames, qint64 first, qint64 ptsNs) const;
    void waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 lengthUs);
    float shape(float sample, int channel, bool boosting);

    std::atomic<bool> m_skip{false};
    std::atomic<bool> m_boost{false};
    mutable QMutex m_lock; // guards m_state, m_newClip and m_cuts
    std::shared_ptr<SpeechState> m_state;
    bool m_newClip = true;
    SpeechPlan::CutMap m_cuts;
    std::atomic<bool> m_interrupted{false};

    PauseCutter m_cutter;
    VoiceLeveller m_leveller;
    PeakLimiter m_limiter;
    int m_rate = 0;
    int m_channels = 0;
    bool m_timed = false;
    qint64 m_nextIn = -1;     // the clip's sample expected next
    bool m_firstSound = true; // nothing played since the segment started: no wait holds it up
    double m_waitBudgetMs;
};

#endif // SMARTPROCESSOR_H
