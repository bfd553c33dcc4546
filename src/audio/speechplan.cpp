#include "speechplan.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace SpeechPlan {

namespace {

constexpr qint64 kKeptBaseUs = 150000;
constexpr qint64 kMostKeptUs = 600000;
constexpr double kLowestDb = -120;
constexpr double kClearRangeDb = 12;   // between the voice and the quiet, for pauses to be clear
constexpr double kLoudestQuietDb = -38; // louder is never a pause: a music bed, a steady tone
constexpr double kSoftOverFloorDb = 6;
constexpr std::size_t kWarmUpFrames = 300; // 3 s
constexpr double kMostBoostDb = 12;

} // namespace

Kept kept(qint64 pauseUs)
{
    if (pauseUs < kShortestPauseUs)
        return {pauseUs, 0};
    const qint64 keep = std::min({pauseUs, kMostKeptUs, kKeptBaseUs + (pauseUs - kKeptBaseUs) / 5});
    // The next word's start matters more than the last one's end.
    const qint64 after = keep * 2 / 5;
    return {after, keep - after};
}

void Levels::add(double db)
{
    const int bin = int(std::floor((std::max(db, kLowestDb) - kLowestDb) * 2));
    ++m_bins[std::size_t(std::clamp(bin, 0, kBins - 1))];
    ++m_count;
}

double Levels::percentile(double fraction) const
{
    if (m_count == 0)
        return kLowestDb;
    const int wanted = std::max(1, int(std::ceil(fraction * m_count)));
    int seen = 0;
    for (int bin = 0; bin < kBins; ++bin) {
        seen += m_bins[std::size_t(bin)];
        if (seen >= wanted)
            return kLowestDb + (bin + 0.5) / 2;
    }
    return 0;
}

double Levels::threshold() const
{
    const double quiet = floor();
    const double range = speech() - quiet;
    if (m_count == 0 || range < kClearRangeDb)
        return -std::numeric_limits<double>::infinity();
    return std::min(quiet + std::max(kSoftOverFloorDb, 0.35 * range), kLoudestQuietDb);
}

double Levels::softLevel() const
{
    return std::min(floor() + kSoftOverFloorDb, threshold());
}

void PausePlanner::addFrame(double db)
{
    m_db.push_back(float(std::max(db, kLowestDb)));
    ++m_frames;
    m_levels.add(db);
    if (m_frames >= kWarmUpFrames)
        decide();
}

void PausePlanner::finish()
{
    decide();
    if (m_quietFrom >= 0)
        plan(std::size_t(m_quietFrom), m_frames);
    m_quietFrom = -1;
    m_db.clear();
    m_dropped = m_frames;
}

// Each frame is judged once, by the threshold known when it is reached; a
// quiet run is planned when the next sound (or the end) closes it.
void PausePlanner::decide()
{
    const double threshold = m_levels.threshold();
    for (; m_decided < m_frames; ++m_decided) {
        const bool quiet = level(m_decided) < threshold;
        if (quiet && m_quietFrom < 0) {
            m_quietFrom = (long long)m_decided;
        } else if (!quiet && m_quietFrom >= 0) {
            plan(std::size_t(m_quietFrom), m_decided);
            m_quietFrom = -1;
        }
    }
    const std::size_t needed = m_quietFrom >= 0 ? std::size_t(m_quietFrom) : m_decided;
    for (; m_dropped < needed; ++m_dropped)
        m_db.pop_front();
}

// The soft start of the next word and the soft end of the last one belong
// to them, not to the pause.
void PausePlanner::plan(std::size_t first, std::size_t end)
{
    const double soft = m_levels.softLevel();
    while (end > first && level(end - 1) >= soft)
        --end;
    while (first < end && level(first) >= soft)
        ++first;
    const qint64 startUs = qint64(first) * kFrameUs;
    const qint64 lengthUs = qint64(end - first) * kFrameUs;
    if (lengthUs < kShortestPauseUs)
        return;
    const Kept keep = kept(lengthUs);
    m_cuts.push_back({startUs + keep.afterUs, startUs + lengthUs - keep.beforeUs});
}

void CutMap::restart()
{
    m_entries.clear();
    m_counted = 0;
}

void CutMap::add(qint64 playedUs, qint64 lengthUs, double rate)
{
    if (lengthUs <= 0)
        return;
    const qint64 before = m_entries.empty() ? 0 : m_entries.back().cutUs;
    m_entries.push_back({playedUs, lengthUs, before + lengthUs, rate > 0 ? rate : 1.0});
}

// Asked on every tick of the position: a search, however long the clip.
qint64 CutMap::clipUs(qint64 playedUs) const
{
    const auto after = std::upper_bound(m_entries.cbegin(), m_entries.cend(), playedUs,
                                        [](qint64 played, const Entry &entry) { return played < entry.playedUs; });
    return after == m_entries.cbegin() ? playedUs : playedUs + std::prev(after)->cutUs;
}

// Playback passes the cuts in order: those counted are the first ones.
qint64 CutMap::takeSavedUs(qint64 playedUs)
{
    qint64 saved = 0;
    for (; m_counted < m_entries.size(); ++m_counted) {
        const Entry &entry = m_entries[m_counted];
        if (entry.playedUs > playedUs)
            break;
        saved += qint64(double(entry.lengthUs) / entry.rate);
    }
    return saved;
}

void HighPass::configure(int rate, int channels)
{
    constexpr double kCornerHz = 80;
    const double w0 = 2 * M_PI * kCornerHz / rate;
    const double alpha = std::sin(w0) / std::sqrt(2.0);
    const double a0 = 1 + alpha;
    m_b0 = (1 + std::cos(w0)) / 2 / a0;
    m_b1 = -(1 + std::cos(w0)) / a0;
    m_a1 = -2 * std::cos(w0) / a0;
    m_a2 = (1 - alpha) / a0;
    m_state.assign(std::size_t(channels) * 4, 0.0);
}

void HighPass::reset()
{
    std::fill(m_state.begin(), m_state.end(), 0.0);
}

double boostGainDb(double integratedLufs, int channels)
{
    if (!std::isfinite(integratedLufs))
        return 0;
    const double target = channels >= 2 ? -16.0 : -19.0;
    return std::min(target - integratedLufs, kMostBoostDb);
}

double limiterGain(double peak, double gainDb)
{
    const double boosted = peak * toLinear(gainDb);
    const double ceiling = toLinear(kCeilingDb);
    return boosted > ceiling ? ceiling / boosted : 1.0;
}

} // namespace SpeechPlan
