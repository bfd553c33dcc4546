#ifndef SPEECHPLAN_H
#define SPEECHPLAN_H

#include <QtGlobal>

#include <array>
#include <cmath>
#include <deque>
#include <vector>

// The decisions behind smart speed, apart from any pipeline: what counts
// as quiet in a clip, which pauses are shortened and by how much, where
// playback is in the clip once pauses have been cut, and how loud to make
// a voice. Times are microseconds of the clip; levels are dBFS.
namespace SpeechPlan {

constexpr qint64 kFrameUs = 10000;         // the level is taken 10 ms at a time
constexpr qint64 kShortestPauseUs = 300000; // shorter pauses stay as they are
constexpr qint64 kFadeUs = 8000;           // each end of a cut fades
constexpr double kCeilingDb = -1.0;        // no peak above this with the voice boosted
constexpr qint64 kFirstMeasureUs = 1000000; // the least of a clip the voice boost's gain is set from

// A stretch of the clip left out.
struct Cut
{
    qint64 startUs = 0;
    qint64 endUs = 0;
};

// What stays of a pause of this length: after the last sound, and before
// the next. A short pause stays whole; a longer one keeps about 150 ms and
// a fifth of the rest, at most 600 ms.
struct Kept
{
    qint64 afterUs = 0;
    qint64 beforeUs = 0;
};
Kept kept(qint64 pauseUs);

// The clip's own idea of quiet, from the levels of its frames so far.
class Levels
{
public:
    void add(double db);
    double percentile(double fraction) const;
    double floor() const { return percentile(0.1); }  // the noise in the pauses
    double speech() const { return percentile(0.98); } // the voice, however few its words
    // A frame under it is quiet. None is while the clip has shown no clear
    // pauses: continuous sound such as a music bed or a steady tone.
    double threshold() const;
    // Still quiet, though over the threshold: a soft start or end of a word.
    double softLevel() const;

private:
    static constexpr int kBins = 240; // of 0.5 dB, from -120 dBFS
    std::array<int, kBins> m_bins{};
    int m_count = 0;
};

// Finds the pauses of a clip as its frames' levels arrive, and plans what
// of each is cut. Nothing is decided before a few seconds have been heard
// (or the clip has ended), and what is decided stays. Of the levels it
// keeps only those it may still look at: from the start of the quiet run
// under way, or the frames not yet decided.
class PausePlanner
{
public:
    void addFrame(double db);
    // The clip has no more frames: a pause at its end is planned too.
    void finish();
    const std::vector<Cut> &cuts() const { return m_cuts; }
    // Up to where the plan is final: the frames judged, but not a quiet
    // run that has not ended yet, as a cut may begin in it.
    qint64 settledUs() const { return (m_quietFrom >= 0 ? qint64(m_quietFrom) : qint64(m_decided)) * kFrameUs; }
    std::size_t framesKept() const { return m_db.size(); }

private:
    void decide();
    void plan(std::size_t first, std::size_t end);
    float level(std::size_t frame) const { return m_db[frame - m_dropped]; }

    std::deque<float> m_db; // the levels of frames m_dropped on
    std::size_t m_dropped = 0;
    Levels m_levels;
    std::size_t m_frames = 0;   // heard
    std::size_t m_decided = 0;  // looked at
    long long m_quietFrom = -1; // the quiet run under way
    std::vector<Cut> m_cuts;
};

// Where playback is in the clip while pauses are cut. A pipeline counts
// played time from where it last started or sought, so each cut made since
// then moves the clip on by its length. It also counts the listening time
// saved by the cuts that playback has passed.
class CutMap
{
public:
    // Played time starts again, at the clip time it names; nothing is cut
    // since.
    void restart();
    // A cut of lengthUs made where the played time stood at playedUs.
    void add(qint64 playedUs, qint64 lengthUs, double rate);
    qint64 clipUs(qint64 playedUs) const;
    // The listening time saved by the cuts that playback has passed, once
    // it has played up to playedUs, and that were not counted before.
    qint64 takeSavedUs(qint64 playedUs);

private:
    struct Entry
    {
        qint64 playedUs;
        qint64 lengthUs;
        qint64 cutUs; // in all, up to and with this one
        double rate;
    };
    std::vector<Entry> m_entries; // in played order
    std::size_t m_counted = 0;    // the first of them not yet counted as saved
};

// The gentle high-pass of the voice boost: second-order Butterworth at
// 80 Hz, one state a channel.
class HighPass
{
public:
    void configure(int rate, int channels);
    void reset();
    double apply(int channel, double x)
    {
        double *s = &m_state[std::size_t(channel) * 4]; // x1 x2 y1 y2
        const double y = m_b0 * x + m_b1 * s[0] + m_b0 * s[1] - m_a1 * s[2] - m_a2 * s[3];
        s[1] = s[0];
        s[0] = x;
        s[3] = s[2];
        s[2] = y;
        return y;
    }

private:
    double m_b0 = 1, m_b1 = 0, m_a1 = 0, m_a2 = 0;
    std::vector<double> m_state;
};

// The gain that brings a voice of this integrated loudness (LUFS) to the
// level for streamed speech: -19 LUFS mono, -16 LUFS stereo. At most
// +12 dB, and as far down as needed; none for silence.
double boostGainDb(double integratedLufs, int channels);

// The gain that keeps a peak under the ceiling once boosted by gainDb.
double limiterGain(double peak, double gainDb);

// A sample that is no number at all (a broken decoder's) is heard as
// silence, by the analysis and the filter alike.
inline float audible(float sample)
{
    return std::isfinite(sample) ? sample : 0.0f;
}

inline double toLinear(double db)
{
    return db <= -120 ? 0.0 : std::pow(10.0, db / 20);
}

} // namespace SpeechPlan

#endif // SPEECHPLAN_H
