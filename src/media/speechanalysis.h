#ifndef SPEECHANALYSIS_H
#define SPEECHANALYSIS_H

#include "media/speechplan.h"

#include <QMutex>
#include <QWaitCondition>

#include <memory>
#include <vector>

class ClipSource;

typedef struct _GstElement GstElement;

// What the analysis has learnt of one clip so far: its pauses and the cuts
// planned in them, its loudness and the gain that boosts it, and the peak
// of every 10 ms. Written by the analysis on its streaming thread, read by
// the player's filter on another; every call is safe from any thread.
class SpeechState
{
public:
    SpeechState();
    ~SpeechState();
    SpeechState(const SpeechState &) = delete;
    SpeechState &operator=(const SpeechState &) = delete;

    // The clip's decoded audio, in order from its start: interleaved
    // floats at this rate and channel count.
    void addAudio(const float *samples, std::size_t frames, int rate, int channels);
    // All of it has been heard.
    void finish();

    // The first cut that ends after this time, if one is planned.
    bool cutAfter(qint64 us, SpeechPlan::Cut *cut) const;
    // The loudest sample from fromUs to toUs, or -1 where the analysis has
    // not been yet.
    float peak(qint64 fromUs, qint64 toUs) const;
    // What the voice boost adds, once the loudness has been measured.
    double gainDb() const;
    // Waits, at most timeoutMs, until the pauses have been decided up to
    // decidedUs and (if asked) the loudness has been measured over a few
    // seconds, or until the whole clip has been heard. Returns the ms waited.
    int waitFor(qint64 decidedUs, bool loudness, int timeoutMs) const;
    qint64 analysedUs() const;
    bool isFinished() const;

private:
    struct Meter;

    void endFrame();
    void measure();

    mutable QMutex m_mutex; // guards all below
    mutable QWaitCondition m_progress;
    SpeechPlan::PausePlanner m_planner;
    std::unique_ptr<Meter> m_meter;
    std::vector<float> m_peaks; // one a frame
    int m_rate = 0;
    int m_channels = 0;
    std::size_t m_frameSize = 0;  // samples a frame and channel
    std::size_t m_frameFill = 0;
    double m_frameSquares = 0;
    float m_framePeak = 0;
    double m_gainDb = 0;
    bool m_loudnessKnown = false;
    bool m_finished = false;
};

// Decodes a clip from memory in a pipeline of its own, as fast as its
// bytes arrive, and tells a SpeechState what it hears. Runs on GStreamer's
// threads; stops when destroyed.
class SpeechAnalysis
{
public:
    SpeechAnalysis(ClipSource *clip, std::shared_ptr<SpeechState> state);
    ~SpeechAnalysis();
    SpeechAnalysis(const SpeechAnalysis &) = delete;
    SpeechAnalysis &operator=(const SpeechAnalysis &) = delete;

private:
    std::shared_ptr<SpeechState> m_state;
    GstElement *m_pipeline = nullptr;
};

#endif // SPEECHANALYSIS_H
