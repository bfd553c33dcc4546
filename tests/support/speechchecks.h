#ifndef SPEECHCHECKS_H
#define SPEECHCHECKS_H

#include "sinkrecorder.h"

#include <QPair>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <vector>

// What smart speed's tests read off a clip as made and as heard.
namespace SpeechChecks {

// What the README promises stays of a pause: all of one under 300 ms; of a
// longer one about 150 ms and a fifth of the rest, at most 600 ms.
inline double keptMs(double pauseMs)
{
    return pauseMs < 300 ? pauseMs : std::min(600.0, 150 + (pauseMs - 150) / 5);
}

inline const float kCeiling = float(std::pow(10.0, -1.0 / 20)); // -1 dBFS

// Where the words of a clip are, in ms: a word starts where it is louder
// than `over`.
inline QVector<QPair<double, double>> wordsOf(const std::vector<float> &samples, int rate, int channels, double over)
{
    QVector<QPair<double, double>> words;
    for (const Heard::Burst &burst : Heard::bursts(samples, rate, channels, over))
        words.append({burst.start * 1000, burst.end * 1000});
    return words;
}

// The largest step between samples of the first channel, from..to seconds.
inline float largestStep(const std::vector<float> &samples, int rate, int channels, double from, double to)
{
    float largest = 0;
    const auto c = std::size_t(channels);
    for (auto n = std::size_t(std::max(0.0, from) * rate) + 1; n < std::size_t(to * rate) && n * c < samples.size(); ++n)
        largest = std::max(largest, std::fabs(samples[n * c] - samples[(n - 1) * c]));
    return largest;
}

} // namespace SpeechChecks

#endif // SPEECHCHECKS_H
