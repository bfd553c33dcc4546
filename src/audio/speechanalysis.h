#ifndef SPEECHANALYSIS_H
#define SPEECHANALYSIS_H

#include "frameclock.h"
#include "speechplan.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <memory>
#include <vector>

class ClipMemory;

typedef struct _GstElement GstElement;

// What the analysis has learnt of one clip so far: its pauses and the cuts
// planned in them, its loudness and the gain that boosts it, and the peak
// of every 10 ms. Written by the analysis on its streaming thread, read by
// the player's filter on another; every call is safe from any thread.
//
// Frames are 10 ms of the clip's own time, whatever its rate, timed by the
// decoded buffers' timestamps: a frame the decoder drops, or a change of
// rate or channels midway, moves nothing that comes after it.
class SpeechState
{
public:
    SpeechState();
    ~SpeechState();
    SpeechState(const SpeechState &) = delete;
    SpeechState &operator=(const SpeechState &) = delete;

    // Decoded audio, interleaved floats at this rate and channel count,
    // starting at this clip time (-1: right after the last), in order.
    // `discontinuous` marks audio that does not follow on from the last.
    void addAudio(const float *samples, std::size_t frames, int rate, int channels, qint64 startNs,
                  bool discontinuous = false);
    // All of it has been heard, or as much as ever will be.
    void finish();

    // The first cut that ends after this time, if one is planned.
    bool cutAfter(qint64 us, SpeechPlan::Cut *cut) const;
    // The loudest sample from fromUs to toUs, with the voice boost's
    // high-pass or without, or -1 where the analysis has not been yet.
    float peak(qint64 fromUs, qint64 toUs) const;
    // What the voice boost adds, from the loudness of the first second
    // heard on; 0 before that.
    double gainDb() const;
    // What to wait for: the cuts planned for good up to plannedUs, the
    // loudness measured over measuredUs, the peaks known up to peaksUs.
    struct Wanted
    {
        qint64 plannedUs = 0;
        qint64 measuredUs = 0;
        qint64 peaksUs = 0;
    };
    // Waits, at most timeoutMs, until what is wanted is known, or the whole
    // clip has been heard, or `interrupted` is set (see wake()). Returns the
    // ms waited.
    int waitFor(const Wanted &wanted, int timeoutMs, const std::atomic<bool> &interrupted) const;
    // Lets every waiter look at its `interrupted` again.
    void wake();
    qint64 analysedUs() const;
    qint64 measuredUs() const;
    bool isFinished() const;
    // What the analysis keeps of the clip, apart from the planned cuts.
    std::size_t keptBytes() const;

private:
    struct Meter;

    void restartClock(int rate, int channels, qint64 startNs);
    void measureLoudness(const float *samples, std::size_t frames);
    void fillTo(qint64 frame);
    void endFrame();
    void storeFrame(double db, quint8 peak);
    void measure();

    mutable QMutex m_mutex; // guards all below
    mutable QWaitCondition m_progress;
    SpeechPlan::PausePlanner m_planner;
    std::unique_ptr<Meter> m_meter;
    std::vector<quint8> m_peaks; // one a frame, in half dB, rounded up
    SpeechPlan::HighPass m_highPass;
    FrameClock m_clock;
    int m_channels = 0;
    std::size_t m_frameFill = 0;
    double m_frameSquares = 0;
    float m_framePeak = 0;
    double m_lastDb = -120;
    double m_gainDb = 0;
    qint64 m_measuredUs = 0;
    bool m_finished = false;
};

// Decodes a clip from memory in a pipeline of its own, as fast as its
// bytes arrive, and tells a SpeechState what it hears. Runs on GStreamer's
// threads; stops when destroyed. An error in the pipeline ends the
// analysis with what it has heard.
class SpeechAnalysis
{
public:
    SpeechAnalysis(ClipMemory &clip, std::shared_ptr<SpeechState> state);
    ~SpeechAnalysis();
    SpeechAnalysis(const SpeechAnalysis &) = delete;
    SpeechAnalysis &operator=(const SpeechAnalysis &) = delete;

private:
    std::shared_ptr<SpeechState> m_state;
    GstElement *m_pipeline = nullptr;
};

#endif // SPEECHANALYSIS_H
