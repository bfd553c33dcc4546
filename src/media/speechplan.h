#ifndef SPEECHPLAN_H
#define SPEECHPLAN_H

#include <QtGlobal>

#include <array>
#include <cmath>
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
// (or the clip has ended), and what is decided stays.
class PausePlanner
{
public:
    void addFrame(double db);
    // The clip has no more frames: a pause at its end is planned too.
    void finish();
    const std::vector<Cut> &cuts() const { return m_cuts; }
    qint64 decidedUs() const { return qint64(m_decided) * kFrameUs; }

private:
    void decide();
    void plan(std::size_t first, std::size_t end);

    std::vector<float> m_db; // every frame's level
    Levels m_levels;
    std::size_t m_decided = 0;   // frames looked at
    long long m_quietFrom = -1;  // the quiet run under way
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
    // The listening time saved by cuts that end at or before this clip
    // time and were not counted before.
    qint64 takeSavedUs(qint64 clipUs);

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

// The gain that brings a voice of this integrated loudness (LUFS) to the
// level for streamed speech: -19 LUFS mono, -16 LUFS stereo. At most
// +12 dB, and as far down as needed; none for silence.
double boostGainDb(double integratedLufs, int channels);

// The gain that keeps a peak under the ceiling once boosted by gainDb.
double limiterGain(double peak, double gainDb);

inline double toLinear(double db)
{
    return db <= -120 ? 0.0 : std::pow(10.0, db / 20);
}

} // namespace SpeechPlan

#endif // SPEECHPLAN_H
