#include "smartfilter.h"

#include "speechanalysis.h"
#include "speechplan.h"

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include <gst/audio/audio.h>
#include <gst/gst.h>


namespace {

// The analysis runs far ahead, once it has started: the filter waits for
// it at a clip's start, and never for long. It waits for the pauses to be
// decided this far ahead, and for the loudness.
constexpr qint64 kPlanAheadUs = 2500000;
constexpr double kMostWaitMs = 30;
constexpr double kWaitShare = 0.02;        // of the time played, for later waits
constexpr qint64 kMeasuredUs = 3000000;     // the loudness that sets a clip's gain
constexpr qint64 kFirstMeasureUs = 1000000; // the least it is set from
constexpr int kStartBudgetMs = 2000;        // a boosted clip's first sound waits for that, on a slow link
constexpr double kRampSeconds = 0.15;       // of the gain, and of the high-pass coming and going
constexpr double kAttackSeconds = 0.003;
constexpr double kReleaseSeconds = 0.08;
constexpr qint64 kLookBehindUs = 10000;     // around each 10 ms, for the limiter
constexpr qint64 kLookAheadUs = 30000;
constexpr qint64 kPieceUs = 50000;          // the longest stretch the filter takes at once

// The cut planned next, in samples of the clip at the stream's rate.
struct SampleCut
{
    qint64 start = 0;
    qint64 end = 0;
};

} // namespace

// All the element does, apart from GStreamer's plumbing. The switches and
// the state are set from the GUI thread, the rest runs on the streaming
// thread; the cut map is read from both. Time is counted in samples: the
// clip's own from the buffers' timestamps, and what was played as that
// less the samples cut, so that the timestamps going out always agree with
// the samples that go out.
class SmartProcessor
{
public:
    std::atomic<bool> skip{false};
    std::atomic<bool> boost{false};

    void setState(std::shared_ptr<SpeechState> state)
    {
        QMutexLocker lock(&m_lock);
        m_state = std::move(state);
        m_newClip = true;
    }

    qint64 clipUs(qint64 playedUs) const
    {
        QMutexLocker lock(&m_lock);
        return m_cuts.clipUs(playedUs);
    }

    qint64 takeSavedUs(qint64 playedUs)
    {
        QMutexLocker lock(&m_lock);
        return m_cuts.takeSavedUs(playedUs);
    }

    void setFormat(const GstAudioInfo &info);
    void startSegment(const GstSegment &segment);
    // A flush or a stop: a wait for the analysis ends at once, and none
    // begins until it is over.
    void interrupt(bool on);
    void flushed() { m_highPass.reset(); }
    // The clip ended, perhaps within a cut.
    void endOfStream()
    {
        if (m_skipping)
            endCut();
    }
    // Where a time of the clip is played, as the segment counts it.
    GstClockTime outputTime(GstClockTime inputTime) const;

    // A long buffer in pieces short enough that the analysis is waited for
    // before each is played: a sink that keeps time takes them one by one.
    std::vector<GstBuffer *> pieces(GstBuffer *input) const;
    GstBuffer *process(GstBuffer *input);

private:
    bool idle() const
    {
        return !skip && !boost && m_gain == 1.0 && m_mix == 0.0 && m_limit == 1.0 && !m_skipping && m_fadeOut == 0
            && m_fadeIn == 0;
    }
    qint64 toSamples(qint64 us) const { return (us * m_rate + 500000) / 1000000; }
    qint64 toUs(qint64 samples) const { return samples * 1000000 / m_rate; }
    GstClockTime toNs(qint64 samples) const
    {
        return gst_util_uint64_scale_int_round(guint64(std::max<qint64>(0, samples)), GST_SECOND, m_rate);
    }

    void beginClip(SpeechState *state, bool boosting);
    qint64 placeBuffer(GstBuffer *input, std::size_t frames);
    GstBuffer *passOn(GstBuffer *input, qint64 first);
    void waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 lengthUs);
    bool nextCut(const SpeechState &state, qint64 sample, SampleCut *cut) const;
    void planAt(qint64 sample, const SpeechState &state, bool *haveCut, SampleCut *cut);
    void startCut(qint64 from, qint64 to);
    void endCut();
    double limitTarget(qint64 sample, const SpeechState &state, double gainTarget);
    void ramp(double gainTarget, double mixTarget, double limitTarget);
    float shape(float sample, int channel);

    mutable QMutex m_lock; // guards m_state, m_newClip and m_cuts
    std::shared_ptr<SpeechState> m_state;
    bool m_newClip = true;
    SpeechPlan::CutMap m_cuts;
    std::atomic<bool> m_interrupted{false};

    int m_rate = 0;
    int m_channels = 0;
    int m_fadeFrames = 1;
    double m_speed = 1.0;
    bool m_timed = false;
    qint64 m_nextIn = -1;     // the clip's sample expected next
    qint64 m_cutSamples = 0;  // cut since the segment started
    bool m_firstSound = true; // nothing played since the segment started: no wait holds it up
    bool m_landing = true;    // the segment's first sample is yet to come: a seek may land in a pause
    bool m_skipping = false;
    qint64 m_skipEnd = 0;
    qint64 m_cutPlayed = 0;   // where the cut under way was made, in samples played
    qint64 m_cutBefore = 0;   // what was cut before it
    qint64 m_cutEnd = 0;      // where the cut being faded into ends
    int m_fadeOut = 0;        // frames left
    int m_fadeIn = 0;
    double m_gain = 1.0;
    double m_mix = 0.0;       // of the high-pass
    double m_limit = 1.0;     // below 0: to be set at once
    qint64 m_limitBlock = -1;
    double m_limitTarget = 1.0;
    double m_ramp = 0, m_release = 0, m_attack = 0;
    double m_waitBudgetMs = kMostWaitMs;
    SpeechPlan::HighPass m_highPass;
};

void SmartProcessor::setFormat(const GstAudioInfo &info)
{
    const int rate = GST_AUDIO_INFO_RATE(&info);
    if (m_rate > 0 && rate != m_rate) { // the clip goes on at another rate
        if (m_skipping)
            endCut();
        m_fadeOut = 0;
        m_cutSamples = m_cutSamples * rate / m_rate;
        m_nextIn = -1;
    }
    m_rate = rate;
    m_channels = GST_AUDIO_INFO_CHANNELS(&info);
    m_fadeFrames = std::max(1, int(qint64(m_rate) * SpeechPlan::kFadeUs / 1000000));
    m_highPass.configure(m_rate, m_channels);
    m_ramp = 1 - std::exp(-1 / (kRampSeconds * m_rate));
    m_release = 1 - std::exp(-1 / (kReleaseSeconds * m_rate));
    m_attack = 1 / (kAttackSeconds * m_rate);
}

// Played time starts again where the new segment starts.
void SmartProcessor::startSegment(const GstSegment &segment)
{
    QMutexLocker lock(&m_lock);
    m_timed = segment.format == GST_FORMAT_TIME;
    m_speed = std::fabs(segment.rate) > 0 ? std::fabs(segment.rate) : 1.0;
    m_cuts.restart();
    m_cutSamples = 0;
    m_nextIn = -1;
    m_firstSound = true;
    m_landing = true;
    m_skipping = false;
    m_fadeOut = 0;
    m_fadeIn = 0;
    m_limitBlock = -1;
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

GstClockTime SmartProcessor::outputTime(GstClockTime inputTime) const
{
    return m_rate > 0 ? toNs(qint64(gst_util_uint64_scale_int_round(inputTime, m_rate, GST_SECOND)) - m_cutSamples)
                      : inputTime;
}

// A clip is heard boosted from its first sound: the gain starts where it
// belongs. On a fast link that is the loudness of its first seconds; on a
// slow one, of the first second at least, and the gain ramps from there.
void SmartProcessor::beginClip(SpeechState *state, bool boosting)
{
    m_waitBudgetMs = kMostWaitMs;
    if (boosting) {
        m_waitBudgetMs -= state->waitFor({0, kMeasuredUs, 0}, int(kMostWaitMs), m_interrupted);
        if (state->measuredUs() < kFirstMeasureUs)
            state->waitFor({0, kFirstMeasureUs, 0}, kStartBudgetMs, m_interrupted);
    }
    m_gain = boosting ? SpeechPlan::toLinear(state->gainDb()) : 1.0;
    m_mix = boosting ? 1.0 : 0.0;
    m_limit = boosting ? -1.0 : 1.0;
    m_highPass.reset();
}

// Within a budget that playing refills: an analysis that cannot go on (its
// bytes have not arrived) never holds playback up for more than a blink.
// The plan is wanted well ahead, the loudness once measured, and the peaks
// as far as the limiter looks.
void SmartProcessor::waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 lengthUs)
{
    m_waitBudgetMs = std::min(kMostWaitMs, m_waitBudgetMs + kWaitShare * double(lengthUs) / 1000);
    if (!(skip || boost) || m_waitBudgetMs < 1 || m_interrupted)
        return;
    const SpeechState::Wanted wanted{skip ? fromUs + kPlanAheadUs : 0, boost ? kMeasuredUs : 0,
                                     boost ? fromUs + lengthUs + kLookAheadUs : 0};
    m_waitBudgetMs -= state->waitFor(wanted, int(m_waitBudgetMs), m_interrupted);
}

// The clip's sample the buffer starts at. Timestamps are rounded to the
// nanosecond: one that lands within a sample of the last buffer's end
// follows on from it.
qint64 SmartProcessor::placeBuffer(GstBuffer *input, std::size_t frames)
{
    qint64 first = qint64(gst_util_uint64_scale_int_round(GST_BUFFER_PTS(input), m_rate, GST_SECOND));
    if (m_nextIn >= 0 && std::abs(first - m_nextIn) <= 1)
        first = m_nextIn;
    m_nextIn = first + qint64(frames);
    return first;
}

// Unshaped: only what was cut before moves its time. A sample that is no
// number at all is silenced on the way.
GstBuffer *SmartProcessor::passOn(GstBuffer *input, qint64 first)
{
    GstMapInfo map;
    bool finite = true;
    if (gst_buffer_map(input, &map, GST_MAP_READ)) {
        const auto *samples = reinterpret_cast<const float *>(map.data);
        for (std::size_t i = 0; finite && i < map.size / sizeof(float); ++i)
            finite = std::isfinite(samples[i]);
        gst_buffer_unmap(input, &map);
    }
    const GstClockTime pts = toNs(first - m_cutSamples);
    if (finite && pts == GST_BUFFER_PTS(input))
        return input;
    input = gst_buffer_make_writable(input);
    GST_BUFFER_PTS(input) = pts;
    if (!finite && gst_buffer_map(input, &map, GST_MAP_READWRITE)) {
        auto *samples = reinterpret_cast<float *>(map.data);
        for (std::size_t i = 0; i < map.size / sizeof(float); ++i) {
            if (!std::isfinite(samples[i]))
                samples[i] = 0;
        }
        gst_buffer_unmap(input, &map);
    }
    return input;
}

bool SmartProcessor::nextCut(const SpeechState &state, qint64 sample, SampleCut *cut) const
{
    SpeechPlan::Cut planned;
    if (!state.cutAfter(toUs(sample), &planned))
        return false;
    *cut = {toSamples(planned.startUs), toSamples(planned.endUs)};
    return true;
}

// A cut planned ahead fades out just before it starts; one planned late
// (or switched on inside a pause) fades out where it is; a seek into a
// pause goes on at its end.
void SmartProcessor::planAt(qint64 sample, const SpeechState &state, bool *haveCut, SampleCut *cut)
{
    if (*haveCut && sample >= cut->end)
        *haveCut = nextCut(state, sample, cut);
    if (!*haveCut || m_fadeOut > 0 || sample < cut->start - m_fadeFrames || sample >= cut->end)
        return;
    if (m_landing && sample >= cut->start) {
        startCut(sample, cut->end);
    } else if (cut->end - sample > 2 * m_fadeFrames) {
        m_fadeOut = m_fadeFrames;
        m_cutEnd = cut->end;
    }
}

void SmartProcessor::startCut(qint64 from, qint64 to)
{
    m_skipping = true;
    m_skipEnd = to;
    m_cutPlayed = from - m_cutSamples;
    m_cutBefore = m_cutSamples;
}

// Booked by what it took out, in the samples' own time.
void SmartProcessor::endCut()
{
    m_skipping = false;
    QMutexLocker lock(&m_lock);
    m_cuts.add(toUs(m_cutPlayed), toUs(m_cutSamples) - toUs(m_cutBefore), m_speed);
}

// Enough to keep every peak ahead under the ceiling once boosted; where the
// analysis has not been, as if the peak were full scale.
double SmartProcessor::limitTarget(qint64 sample, const SpeechState &state, double gainTarget)
{
    const qint64 us = toUs(sample);
    if (us / SpeechPlan::kFrameUs == m_limitBlock)
        return m_limitTarget;
    m_limitBlock = us / SpeechPlan::kFrameUs;
    const double gain = std::max(m_gain, gainTarget);
    if (!boost || gain <= 1.0) {
        m_limitTarget = 1.0;
    } else {
        const float peak = state.peak(us - kLookBehindUs, us + kLookAheadUs);
        m_limitTarget = SpeechPlan::limiterGain(peak < 0 ? 1.0 : peak, 20 * std::log10(gain));
    }
    return m_limitTarget;
}

void SmartProcessor::ramp(double gainTarget, double mixTarget, double limitTarget)
{
    m_gain += (gainTarget - m_gain) * m_ramp;
    m_mix += (mixTarget - m_mix) * m_ramp;
    if (std::fabs(m_mix - mixTarget) < 1e-4)
        m_mix = mixTarget;
    if (std::fabs(m_gain - gainTarget) < 1e-5)
        m_gain = gainTarget;
    if (m_limit < 0)
        m_limit = limitTarget;
    m_limit = limitTarget < m_limit ? std::max(limitTarget, m_limit - m_attack)
                                    : m_limit + (limitTarget - m_limit) * m_release;
    if (m_limit > 0.99999)
        m_limit = 1.0;
}

float SmartProcessor::shape(float sample, int channel)
{
    double y = std::isfinite(sample) ? sample : 0.0;
    if (m_mix > 0) // the high-pass only while the boost is on or going
        y += m_mix * (m_highPass.apply(channel, y) - y);
    y *= m_gain * m_limit;
    if (boost || m_mix > 0 || m_gain > 1) {
        static const double ceiling = SpeechPlan::toLinear(SpeechPlan::kCeilingDb);
        y = std::clamp(y, -ceiling, ceiling);
    }
    return float(y);
}

std::vector<GstBuffer *> SmartProcessor::pieces(GstBuffer *input) const
{
    const std::size_t frameBytes = sizeof(float) * std::size_t(std::max(1, m_channels));
    const std::size_t frames = gst_buffer_get_size(input) / frameBytes;
    const std::size_t most = std::size_t(std::max<qint64>(1, toSamples(kPieceUs)));
    if (m_rate <= 0 || !GST_BUFFER_PTS_IS_VALID(input) || frames <= most)
        return {input};
    std::vector<GstBuffer *> pieces;
    for (std::size_t from = 0; from < frames; from += most) {
        const std::size_t count = std::min(most, frames - from);
        GstBuffer *piece = gst_buffer_copy_region(input, GST_BUFFER_COPY_ALL, from * frameBytes, count * frameBytes);
        GST_BUFFER_PTS(piece) = GST_BUFFER_PTS(input) + toNs(qint64(from));
        GST_BUFFER_DURATION(piece) = toNs(qint64(from + count)) - toNs(qint64(from));
        if (from > 0)
            GST_BUFFER_FLAG_UNSET(piece, GST_BUFFER_FLAG_DISCONT);
        pieces.push_back(piece);
    }
    gst_buffer_unref(input);
    return pieces;
}

GstBuffer *SmartProcessor::process(GstBuffer *input)
{
    std::shared_ptr<SpeechState> state;
    bool newClip = false;
    {
        QMutexLocker lock(&m_lock);
        state = m_state;
        newClip = std::exchange(m_newClip, false) && state;
    }
    if (newClip) // without the lock: the GUI thread asks for the clip's time meanwhile
        beginClip(state.get(), boost);
    if (!m_timed || m_channels <= 0 || m_rate <= 0 || !GST_BUFFER_PTS_IS_VALID(input) || !state) {
        m_firstSound = m_landing = false;
        return input;
    }
    const std::size_t frames = gst_buffer_get_size(input) / (sizeof(float) * std::size_t(m_channels));
    const qint64 first = placeBuffer(input, frames);
    if (idle()) {
        m_firstSound = m_landing = false;
        return passOn(input, first);
    }

    if (!std::exchange(m_firstSound, false)) // a pause has yet to come
        waitForAnalysis(state.get(), toUs(first), toUs(qint64(frames)));
    const bool skipping = skip;
    const double gainTarget = boost ? SpeechPlan::toLinear(state->gainDb()) : 1.0;
    const double mixTarget = boost ? 1.0 : 0.0;
    GstMapInfo in;
    if (!gst_buffer_map(input, &in, GST_MAP_READ))
        return input;
    const auto *samples = reinterpret_cast<const float *>(in.data);
    std::vector<float> out;
    out.reserve(frames * std::size_t(m_channels));
    qint64 outFirst = -1;
    SampleCut cut;
    bool haveCut = skipping && nextCut(*state, first, &cut);

    for (std::size_t i = 0; i < frames; ++i) {
        const qint64 sample = first + qint64(i);
        if (m_skipping && sample >= m_skipEnd) {
            endCut();
            m_fadeIn = m_fadeFrames;
        }
        if (!m_skipping && skipping)
            planAt(sample, *state, &haveCut, &cut);
        if (std::exchange(m_landing, false) && !m_skipping)
            m_fadeIn = m_fadeFrames; // playback starts again here after a flush: no click

        if (m_skipping) {
            ++m_cutSamples;
            continue;
        }
        ramp(gainTarget, mixTarget, limitTarget(sample, *state, gainTarget));
        double fade = 1.0;
        if (m_fadeOut > 0)
            fade = double(m_fadeOut - 1) / m_fadeFrames;
        else if (m_fadeIn > 0)
            fade = double(m_fadeFrames - m_fadeIn + 1) / m_fadeFrames;
        if (outFirst < 0)
            outFirst = sample - m_cutSamples;
        for (int c = 0; c < m_channels; ++c)
            out.push_back(float(shape(samples[i * std::size_t(m_channels) + std::size_t(c)], c) * fade));
        if (m_fadeIn > 0)
            --m_fadeIn;
        if (m_fadeOut > 0 && --m_fadeOut == 0)
            startCut(sample + 1, m_cutEnd);
    }
    gst_buffer_unmap(input, &in);

    if (out.empty()) {
        gst_buffer_unref(input);
        return nullptr;
    }
    const qint64 count = qint64(out.size()) / m_channels;
    GstBuffer *output = gst_buffer_new_allocate(nullptr, out.size() * sizeof(float), nullptr);
    gst_buffer_fill(output, 0, out.data(), out.size() * sizeof(float));
    gst_buffer_copy_into(output, input, GST_BUFFER_COPY_FLAGS, 0, -1);
    GST_BUFFER_PTS(output) = toNs(outFirst);
    GST_BUFFER_DURATION(output) = toNs(outFirst + count) - toNs(outFirst);
    gst_buffer_unref(input);
    return output;
}

// The GStreamer element around it.
struct BrimwoldSmartFilter
{
    GstElement element;
    GstPad *sinkPad;
    GstPad *srcPad;
    SmartProcessor *processor;
};

struct BrimwoldSmartFilterClass
{
    GstElementClass parentClass;
};

G_DEFINE_TYPE(BrimwoldSmartFilter, brimwold_smart_filter, GST_TYPE_ELEMENT)

namespace {

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, rate=(int)[1, MAX], "
                    "channels=(int)[1, MAX]"));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, rate=(int)[1, MAX], "
                    "channels=(int)[1, MAX]"));

BrimwoldSmartFilter *filterOf(gpointer object)
{
    return reinterpret_cast<BrimwoldSmartFilter *>(object);
}

GstFlowReturn chain(GstPad *, GstObject *parent, GstBuffer *buffer)
{
    BrimwoldSmartFilter *filter = filterOf(parent);
    const std::vector<GstBuffer *> pieces = filter->processor->pieces(buffer);
    GstFlowReturn result = GST_FLOW_OK;
    for (GstBuffer *piece : pieces) {
        if (result != GST_FLOW_OK) { // flushing, or the end: the rest goes unplayed
            gst_buffer_unref(piece);
            continue;
        }
        if (GstBuffer *output = filter->processor->process(piece))
            result = gst_pad_push(filter->srcPad, output);
    }
    return result;
}

gboolean sinkEvent(GstPad *pad, GstObject *parent, GstEvent *event)
{
    BrimwoldSmartFilter *filter = filterOf(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_START:
        filter->processor->interrupt(true);
        break;
    case GST_EVENT_FLUSH_STOP:
        filter->processor->interrupt(false);
        filter->processor->flushed();
        break;
    case GST_EVENT_EOS:
        filter->processor->endOfStream();
        break;
    case GST_EVENT_GAP: {
        GstClockTime time = GST_CLOCK_TIME_NONE;
        GstClockTime duration = GST_CLOCK_TIME_NONE;
        gst_event_parse_gap(event, &time, &duration);
        if (GST_CLOCK_TIME_IS_VALID(time)) { // in played time, as the buffers around it
            gst_event_unref(event);
            event = gst_event_new_gap(filter->processor->outputTime(time), duration);
        }
        break;
    }
    case GST_EVENT_CAPS: {
        GstCaps *caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, caps)) {
            gst_event_unref(event);
            return FALSE;
        }
        filter->processor->setFormat(info);
        break;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment *segment = nullptr;
        gst_event_parse_segment(event, &segment);
        filter->processor->startSegment(*segment);
        break;
    }
    default:
        break;
    }
    return gst_pad_event_default(pad, parent, event);
}

// A stop must not wait for a wait for the analysis.
GstStateChangeReturn changeState(GstElement *element, GstStateChange transition)
{
    SmartProcessor *processor = filterOf(element)->processor;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        processor->interrupt(true);
    else if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        processor->interrupt(false);
    return GST_ELEMENT_CLASS(brimwold_smart_filter_parent_class)->change_state(element, transition);
}

void finalize(GObject *object)
{
    delete filterOf(object)->processor;
    G_OBJECT_CLASS(brimwold_smart_filter_parent_class)->finalize(object);
}

SmartProcessor *processorOf(GstElement *filter)
{
    return filterOf(filter)->processor;
}

} // namespace

static void brimwold_smart_filter_class_init(BrimwoldSmartFilterClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = &finalize;
    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    element->change_state = &changeState;
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Smart speed", "Filter/Effect/Audio",
                                          "Shortens the pauses of speech and evens out its loudness",
                                          "The Sorvalen Brimwold developers");
}

static void brimwold_smart_filter_init(BrimwoldSmartFilter *filter)
{
    filter->processor = new SmartProcessor;
    filter->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(filter->sinkPad, &chain);
    gst_pad_set_event_function(filter->sinkPad, &sinkEvent);
    GST_PAD_SET_PROXY_CAPS(filter->sinkPad);
    GST_PAD_SET_PROXY_ALLOCATION(filter->sinkPad);
    gst_element_add_pad(GST_ELEMENT(filter), filter->sinkPad);
    filter->srcPad = gst_pad_new_from_static_template(&srcTemplate, "src");
    GST_PAD_SET_PROXY_CAPS(filter->srcPad);
    gst_element_add_pad(GST_ELEMENT(filter), filter->srcPad);
}

namespace SmartFilter {

GstElement *create()
{
    return GST_ELEMENT(g_object_new(brimwold_smart_filter_get_type(), nullptr));
}

void setState(GstElement *filter, std::shared_ptr<SpeechState> state)
{
    processorOf(filter)->setState(std::move(state));
}

void setSkipSilence(GstElement *filter, bool on)
{
    processorOf(filter)->skip = on;
}

void setBoostVoice(GstElement *filter, bool on)
{
    processorOf(filter)->boost = on;
}

qint64 clipUs(GstElement *filter, qint64 playedUs)
{
    return processorOf(filter)->clipUs(playedUs);
}

qint64 takeSavedUs(GstElement *filter, qint64 clipUs)
{
    return processorOf(filter)->takeSavedUs(clipUs);
}

} // namespace SmartFilter
