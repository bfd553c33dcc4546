#ifndef SAMPLETIME_H
#define SAMPLETIME_H

#include <QtGlobal>

#include <algorithm>

// Time counted in samples at a rate, and back, rounded to the nearest as
// GStreamer rounds timestamps (gst_util_uint64_scale_int_round): the one
// rule the player's filter and the analysis both count by. Negative times
// count as 0.
namespace SampleTime {

constexpr qint64 kNsPerSecond = 1000000000;

inline qint64 toNs(qint64 samples, int rate)
{
    const auto n = static_cast<unsigned __int128>(std::max<qint64>(0, samples));
    return qint64((n * kNsPerSecond + unsigned(rate) / 2) / unsigned(rate));
}

inline qint64 fromNs(qint64 ns, int rate)
{
    const auto n = static_cast<unsigned __int128>(std::max<qint64>(0, ns));
    return qint64((n * unsigned(rate) + kNsPerSecond / 2) / kNsPerSecond);
}

} // namespace SampleTime

#endif // SAMPLETIME_H
