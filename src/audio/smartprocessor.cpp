#include "smartprocessor.h"

#include "sampletime.h"
#include "speechanalysis.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The analysis runs far ahead, once it has started: the processor waits
// for it at a clip's start, and never for long. It waits for the pauses to
// be decided this far ahead, and for the loudness.
constexpr qint64 kPlanAheadUs = 2500000;
constexpr double kMostWaitMs = 30;
constexpr double kWaitShare = 0.02;     // of the time played, for later waits
constexpr qint64 kMeasuredUs = 3000000; // the loudness that sets a clip's gain
constexpr int kStartBudgetMs = 2000;    // a boosted clip's first sound waits for that, on a slow link
constexpr double kRampSeconds = 0.15;   // of the gain, and of the high-pass coming and going
constexpr double kAttackSeconds = 0.003;
constexpr double kReleaseSeconds = 0.08;
constexpr qint64 kLookBehindUs = 10000; // around each 10 ms, for the limiter
constexpr qint64 kLookAheadUs = 30000;
constexpr qint64 kPieceUs = 50000;      // the longest stretch taken at once

} // namespace

PauseCutter::PauseCutter(SpeechPlan::CutMap *cuts, QMutex *lock)
    : m_cuts(cuts)
    , m_lock(lock)
{
}

void PauseCutter::setRate(int rate)
{
    m_rate = rate;
    m_fadeFrames = std::max(1, int(qint64(m_rate) * SpeechPlan::kFadeUs / 1000000));
}

void PauseCutter::restart()
{
    m_cutSamples = 0;
    m_landing = true;
    m_skipping = false;
    m_fadeOut = 0;
    m_fadeIn = 0;
}

void PauseCutter::changeRate(int rate)
{
    if (m_skipping)
        endCut();
    m_fadeOut = 0;
    m_cutSamples = m_cutSamples * rate / m_rate;
}

void PauseCutter::finish()
{
    if (m_skipping)
        endCut();
}

void PauseCutter::look(const SpeechState &state, qint64 sample, bool skipping)
{
    m_haveCut = skipping && nextCut(state, sample);
}

bool PauseCutter::nextCut(const SpeechState &state, qint64 sample)
{
    SpeechPlan::Cut planned;
    if (!state.cutAfter(toUs(sample), &planned))
        return false;
    m_cut = {toSamples(planned.startUs), toSamples(planned.endUs)};
    return true;
}

// A cut planned ahead fades out just before it starts; one planned late
// (or switched on inside a pause) fades out where it is; a seek into a
// pause goes on at its end.
void PauseCutter::planAt(qint64 sample, const SpeechState &state)
{
    if (m_haveCut && sample >= m_cut.end)
        m_haveCut = nextCut(state, sample);
    if (!m_haveCut || m_fadeOut > 0 || sample < m_cut.start - m_fadeFrames || sample >= m_cut.end)
        return;
    if (m_landing && sample >= m_cut.start) {
        startCut(sample, m_cut.end);
    } else if (m_cut.end - sample > 2 * m_fadeFrames) {
        m_fadeOut = m_fadeFrames;
        m_cutEnd = m_cut.end;
    }
}

bool PauseCutter::plays(qint64 sample, const SpeechState &state, bool skipping, double *fade)
{
    if (m_skipping && sample >= m_skipEnd) {
        endCut();
        m_fadeIn = m_fadeFrames;
    }
    if (!m_skipping && skipping)
        planAt(sample, state);
    if (std::exchange(m_landing, false) && !m_skipping)
        m_fadeIn = m_fadeFrames; // playback starts again here after a flush: no click
    if (m_skipping) {
        ++m_cutSamples;
        return false;
    }
    *fade = 1.0;
    if (m_fadeOut > 0)
        *fade = double(m_fadeOut - 1) / m_fadeFrames;
    else if (m_fadeIn > 0)
        *fade = double(m_fadeFrames - m_fadeIn + 1) / m_fadeFrames;
    return true;
}

void PauseCutter::played(qint64 sample)
{
    if (m_fadeIn > 0)
        --m_fadeIn;
    if (m_fadeOut > 0 && --m_fadeOut == 0)
        startCut(sample + 1, m_cutEnd);
}

void PauseCutter::startCut(qint64 from, qint64 to)
{
    m_skipping = true;
    m_skipEnd = to;
    m_cutPlayed = from - m_cutSamples;
    m_cutBefore = m_cutSamples;
}

// Booked by what it took out, in the samples' own time.
void PauseCutter::endCut()
{
    m_skipping = false;
    QMutexLocker lock(m_lock);
    m_cuts->add(toUs(m_cutPlayed), toUs(m_cutSamples) - toUs(m_cutBefore), m_speed);
}

void VoiceLeveller::setFormat(int rate, int channels)
{
    m_highPass.configure(rate, channels);
    m_ramp = 1 - std::exp(-1 / (kRampSeconds * rate));
}

void VoiceLeveller::begin(bool boosting, double gain)
{
    m_gain = boosting ? gain : 1.0;
    m_mix = boosting ? 1.0 : 0.0;
    m_highPass.reset();
}

void VoiceLeveller::ramp(double gainTarget, double mixTarget)
{
    m_gain += (gainTarget - m_gain) * m_ramp;
    m_mix += (mixTarget - m_mix) * m_ramp;
    if (std::fabs(m_mix - mixTarget) < 1e-4)
        m_mix = mixTarget;
    if (std::fabs(m_gain - gainTarget) < 1e-5)
        m_gain = gainTarget;
}

double VoiceLeveller::filter(double sample, int channel)
{
    if (m_mix > 0) // the high-pass only while the boost is on or going
        sample += m_mix * (m_highPass.apply(channel, sample) - sample);
    return sample;
}

void PeakLimiter::setRate(int rate)
{
    m_release = 1 - std::exp(-1 / (kReleaseSeconds * rate));
    m_attack = 1 / (kAttackSeconds * rate);
}

void PeakLimiter::begin(bool boosting)
{
    m_limit = boosting ? -1.0 : 1.0;
}

// Enough to keep every peak ahead under the ceiling once boosted; where the
// analysis has not been, as if the peak were full scale.
double PeakLimiter::target(qint64 us, const SpeechState &state, double gain, bool boosting)
{
    if (us / SpeechPlan::kFrameUs == m_block)
        return m_target;
    m_block = us / SpeechPlan::kFrameUs;
    if (!boosting || gain <= 1.0) {
        m_target = 1.0;
    } else {
        const float peak = state.peak(us - kLookBehindUs, us + kLookAheadUs);
        m_target = SpeechPlan::limiterGain(peak < 0 ? 1.0 : peak, 20 * std::log10(gain));
    }
    return m_target;
}

void PeakLimiter::ramp(double target)
{
    if (m_limit < 0)
        m_limit = target;
    m_limit = target < m_limit ? std::max(target, m_limit - m_attack) : m_limit + (target - m_limit) * m_release;
    if (m_limit > 0.99999)
        m_limit = 1.0;
}

SmartProcessor::SmartProcessor()
    : m_cutter(&m_cuts, &m_lock)
    , m_waitBudgetMs(kMostWaitMs)
{
}

void SmartProcessor::setState(std::shared_ptr<SpeechState> state)
{
    QMutexLocker lock(&m_lock);
    m_state = std::move(state);
    m_newClip = true;
}

qint64 SmartProcessor::clipUs(qint64 playedUs) const
{
    QMutexLocker lock(&m_lock);
    return m_cuts.clipUs(playedUs);
}

qint64 SmartProcessor::takeSavedUs(qint64 playedUs)
{
    QMutexLocker lock(&m_lock);
    return m_cuts.takeSavedUs(playedUs);
}

void SmartProcessor::setFormat(int rate, int channels)
{
    if (m_rate > 0 && rate != m_rate) { // the clip goes on at another rate
        m_cutter.changeRate(rate);
        m_nextIn = -1;
    }
    m_rate = rate;
    m_channels = channels;
    m_cutter.setRate(rate);
    m_leveller.setFormat(rate, channels);
    m_limiter.setRate(rate);
}

void SmartProcessor::startSegment(bool timed, double speed)
{
    QMutexLocker lock(&m_lock);
    m_timed = timed;
    m_cutter.setSpeed(std::fabs(speed) > 0 ? std::fabs(speed) : 1.0);
    m_cuts.restart();
    m_cutter.restart();
    m_nextIn = -1;
    m_firstSound = true;
    m_limiter.restart();
}

void SmartProcessor::interrupt(bool on)
{
    m_interrupted = on;
    if (!on)
        return;
    std::shared_ptr<SpeechState> state;
    {
        QMutexLocker lock(&m_lock);
        state = m_state;
    }
    if (state)
        state->wake();
}

void SmartProcessor::endOfStream()
{
    m_cutter.finish();
}

qint64 SmartProcessor::outputNs(qint64 inputNs) const
{
    return m_rate > 0 ? SampleTime::toNs(SampleTime::fromNs(inputNs, m_rate) - m_cutter.cutSamples(), m_rate) : inputNs;
}

std::size_t SmartProcessor::pieceFrames() const
{
    return std::size_t(std::max<qint64>(1, m_rate > 0 ? toSamples(kPieceUs) : 1));
}

bool SmartProcessor::idle() const
{
    return !m_skip && !m_boost && !m_leveller.isActive() && m_limiter.limit() == 1.0 && !m_cutter.isCutting()
        && !m_cutter.isFading();
}

// A clip is heard boosted from its first sound: the gain starts where it
// belongs. On a fast link that is the loudness of its first seconds; on a
// slow one, of the first second at least, and the gain ramps from there.
void SmartProcessor::beginClip(SpeechState *state, bool boosting)
{
    m_waitBudgetMs = kMostWaitMs;
    if (boosting) {
        m_waitBudgetMs -= state->waitFor({0, kMeasuredUs, 0}, int(kMostWaitMs), m_interrupted);
        if (state->measuredUs() < SpeechPlan::kFirstMeasureUs)
            state->waitFor({0, SpeechPlan::kFirstMeasureUs, 0}, kStartBudgetMs, m_interrupted);
    }
    m_leveller.begin(boosting, SpeechPlan::toLinear(state->gainDb()));
    m_limiter.begin(boosting);
}

// Within a budget that playing refills: an analysis that cannot go on (its
// bytes have not arrived) never holds playback up for more than a blink.
// The plan is wanted well ahead, the loudness once measured, and the peaks
// as far as the limiter looks.
void SmartProcessor::waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 lengthUs)
{
    m_waitBudgetMs = std::min(kMostWaitMs, m_waitBudgetMs + kWaitShare * double(lengthUs) / 1000);
    const bool skip = m_skip;
    const bool boost = m_boost;
    if (!(skip || boost) || m_waitBudgetMs < 1 || m_interrupted)
        return;
    const SpeechState::Wanted wanted{skip ? fromUs + kPlanAheadUs : 0, boost ? kMeasuredUs : 0,
                                     boost ? fromUs + lengthUs + kLookAheadUs : 0};
    m_waitBudgetMs -= state->waitFor(wanted, int(m_waitBudgetMs), m_interrupted);
}

// The clip's sample a span starts at. Timestamps are rounded to the
// nanosecond: one that lands within a sample of the last span's end
// follows on from it.
qint64 SmartProcessor::place(qint64 ptsNs, std::size_t frames)
{
    qint64 first = SampleTime::fromNs(ptsNs, m_rate);
    if (m_nextIn >= 0 && std::abs(first - m_nextIn) <= 1)
        first = m_nextIn;
    m_nextIn = first + qint64(frames);
    return first;
}

// Unshaped: only what was cut before moves its time. A sample that is no
// number at all is silenced on the way.
SmartProcessor::Output SmartProcessor::passOn(const float *samples, std::size_t frames, qint64 first, qint64 ptsNs) const
{
    Output output;
    output.ptsNs = SampleTime::toNs(first - m_cutter.cutSamples(), m_rate);
    const std::size_t count = frames * std::size_t(m_channels);
    if (std::all_of(samples, samples + count, [](float sample) { return std::isfinite(sample); })) {
        if (output.ptsNs == ptsNs)
            output.ptsNs = -1;
        return output;
    }
    output.kind = Output::Kind::Samples;
    output.samples.assign(samples, samples + count);
    std::transform(output.samples.begin(), output.samples.end(), output.samples.begin(), &SpeechPlan::audible);
    const qint64 played = first - m_cutter.cutSamples();
    output.durationNs = SampleTime::toNs(played + qint64(frames), m_rate) - output.ptsNs;
    return output;
}

float SmartProcessor::shape(float sample, int channel, bool boosting)
{
    double y = m_leveller.filter(SpeechPlan::audible(sample), channel);
    y *= m_leveller.gain() * m_limiter.limit();
    if (boosting || m_leveller.isMixing() || m_leveller.gain() > 1) {
        static const double ceiling = SpeechPlan::toLinear(SpeechPlan::kCeilingDb);
        y = std::clamp(y, -ceiling, ceiling);
    }
    return float(y);
}

SmartProcessor::Output SmartProcessor::process(const float *samples, std::size_t frames, qint64 ptsNs)
{
    std::shared_ptr<SpeechState> state;
    bool newClip = false;
    {
        QMutexLocker lock(&m_lock);
        state = m_state;
        newClip = std::exchange(m_newClip, false) && state;
    }
    if (newClip) // without the lock: the GUI thread asks for the clip's time meanwhile
        beginClip(state.get(), m_boost);
    if (!m_timed || m_channels <= 0 || m_rate <= 0 || ptsNs < 0 || !state) {
        m_firstSound = false;
        m_cutter.landed();
        return {};
    }
    const qint64 first = place(ptsNs, frames);
    if (idle()) {
        m_firstSound = false;
        m_cutter.landed();
        return passOn(samples, frames, first, ptsNs);
    }

    if (!std::exchange(m_firstSound, false)) // a pause has yet to come
        waitForAnalysis(state.get(), toUs(first), toUs(qint64(frames)));
    const bool skipping = m_skip;
    const bool boosting = m_boost;
    const double gainTarget = boosting ? SpeechPlan::toLinear(state->gainDb()) : 1.0;
    const double mixTarget = boosting ? 1.0 : 0.0;
    Output output;
    output.kind = Output::Kind::Samples;
    std::vector<float> &out = output.samples;
    out.reserve(frames * std::size_t(m_channels));
    qint64 outFirst = -1;
    m_cutter.look(*state, first, skipping);

    for (std::size_t i = 0; i < frames; ++i) {
        const qint64 sample = first + qint64(i);
        double fade = 1.0;
        if (!m_cutter.plays(sample, *state, skipping, &fade))
            continue;
        const double limit = m_limiter.target(toUs(sample), *state, std::max(m_leveller.gain(), gainTarget), boosting);
        m_leveller.ramp(gainTarget, mixTarget);
        m_limiter.ramp(limit);
        if (outFirst < 0)
            outFirst = sample - m_cutter.cutSamples();
        for (int c = 0; c < m_channels; ++c)
            out.push_back(float(shape(samples[i * std::size_t(m_channels) + std::size_t(c)], c, boosting) * fade));
        m_cutter.played(sample);
    }

    if (out.empty())
        return {Output::Kind::Nothing, -1, -1, {}};
    const qint64 count = qint64(out.size()) / m_channels;
    output.ptsNs = SampleTime::toNs(outFirst, m_rate);
    output.durationNs = SampleTime::toNs(outFirst + count, m_rate) - output.ptsNs;
    return output;
}
