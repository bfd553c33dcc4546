#include "frameclock.h"

#include "sampletime.h"
#include "speechplan.h"

#include <algorithm>
#include <cstdlib>

qint64 FrameClock::frameStart(qint64 frame, int rate)
{
    return frame * rate * SpeechPlan::kFrameUs / 1000000;
}

qint64 FrameClock::frameOf(qint64 sample, int rate)
{
    qint64 frame = sample * 1000000 / (rate * SpeechPlan::kFrameUs);
    while (frameStart(frame + 1, rate) <= sample)
        ++frame;
    return frame;
}

qint64 FrameClock::nextNs() const
{
    return SampleTime::toNs(m_next, std::max(1, m_rate));
}

bool FrameClock::follows(qint64 startNs, int rate) const
{
    const qint64 slackNs = std::max<qint64>(1000000, 2 * SampleTime::kNsPerSecond / rate);
    return std::abs(startNs - nextNs()) <= slackNs;
}

void FrameClock::restart(int rate, qint64 sample, qint64 frame)
{
    m_rate = rate;
    m_next = sample;
    enterFrame(frame);
}
