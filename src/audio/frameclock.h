#ifndef FRAMECLOCK_H
#define FRAMECLOCK_H

#include <QtGlobal>

// The analysis's clock: the clip's samples counted into frames of exactly
// 10 ms of its own time, at any rate. Where 10 ms is no whole number of
// samples (22050 and 11025 Hz), frames are a sample longer or shorter by
// turns, so that frame n always starts at n × 10 ms, however long the clip.
class FrameClock
{
public:
    // The first sample of `frame`, at `rate`.
    static qint64 frameStart(qint64 frame, int rate);
    // The frame that holds `sample`.
    static qint64 frameOf(qint64 sample, int rate);

    int rate() const { return m_rate; }
    // The clip's sample expected next, counted from its start at this rate,
    // and its time.
    qint64 next() const { return m_next; }
    qint64 nextNs() const;
    // Audio at `rate` that starts at startNs goes on from what was counted,
    // to within a millisecond or two samples.
    bool follows(qint64 startNs, int rate) const;

    // Counting goes on at `sample` of `rate`, in frame `frame`.
    void restart(int rate, qint64 sample, qint64 frame);
    // The next sample belongs to a frame after the one being counted.
    bool frameDone() const { return m_next >= m_frameEnd; }
    // Counting goes on in frame `frame`.
    void enterFrame(qint64 frame) { m_frameEnd = frameStart(frame + 1, m_rate); }
    void countSample() { ++m_next; }

private:
    int m_rate = 0;
    qint64 m_next = 0;
    qint64 m_frameEnd = 0; // the sample that starts the next frame
};

#endif // FRAMECLOCK_H
