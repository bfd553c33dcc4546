#include "media/smartfilter.h"

#include "media/speechanalysis.h"
#include "media/speechplan.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <utility>
#include <cmath>
#include <vector>

#include <gst/audio/audio.h>
#include <gst/gst.h>

using SpeechPlan::Cut;
using SpeechPlan::kFadeUs;
using SpeechPlan::kFrameUs;

namespace {

// The analysis runs far ahead, once it has started: the filter waits for
// it at a clip's start, and never for long. It waits for the pauses to be
// decided this far ahead, and for the loudness.
constexpr qint64 kPlanAheadUs = 2500000;
constexpr double kMostWaitMs = 30;
constexpr double kWaitShare = 0.02; // of the time played, for later waits
constexpr double kRampSeconds = 0.15; // of the gain, and of the high-pass coming and going
constexpr double kAttackSeconds = 0.003;
constexpr double kReleaseSeconds = 0.08;
constexpr qint64 kLookBehindUs = 10000; // around each 10 ms, for the limiter
constexpr qint64 kLookAheadUs = 30000;
constexpr double kHighPassHz = 80;

// A second-order Butterworth high-pass, one state a channel.
class HighPass
{
public:
    void configure(int rate, int channels)
    {
        const double w0 = 2 * M_PI * kHighPassHz / rate;
        const double alpha = std::sin(w0) / std::sqrt(2.0);
        const double a0 = 1 + alpha;
        m_b0 = (1 + std::cos(w0)) / 2 / a0;
        m_b1 = -(1 + std::cos(w0)) / a0;
        m_a1 = -2 * std::cos(w0) / a0;
        m_a2 = (1 - alpha) / a0;
        m_state.assign(std::size_t(channels) * 4, 0.0);
    }

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

} // namespace

// All the element does, apart from GStreamer's plumbing. The switches and
// the state are set from the GUI thread, the rest runs on the streaming
// thread; the cut map is read from both.
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

    qint64 takeSavedUs(qint64 clipUs)
    {
        QMutexLocker lock(&m_lock);
        return m_cuts.takeSavedUs(clipUs);
    }

    void setFormat(const GstAudioInfo &info)
    {
        m_rate = GST_AUDIO_INFO_RATE(&info);
        m_channels = GST_AUDIO_INFO_CHANNELS(&info);
        m_fadeFrames = std::max(1, int(qint64(m_rate) * kFadeUs / 1000000));
        m_highPass.configure(m_rate, m_channels);
        m_ramp = 1 - std::exp(-1 / (kRampSeconds * m_rate));
        m_release = 1 - std::exp(-1 / (kReleaseSeconds * m_rate));
        m_attack = 1 / (kAttackSeconds * m_rate);
    }

    // Played time starts again where the new segment starts.
    void startSegment(const GstSegment &segment)
    {
        QMutexLocker lock(&m_lock);
        m_timed = segment.format == GST_FORMAT_TIME;
        m_speed = std::fabs(segment.rate) > 0 ? std::fabs(segment.rate) : 1.0;
        m_cuts.restart();
        m_cutUs = 0;
        m_fresh = true;
        m_skipping = false;
        m_fadeOut = 0;
        m_fadeIn = 0;
    }

    GstBuffer *process(GstBuffer *input);

private:
    bool idle() const
    {
        return !skip && !boost && m_gain == 1.0 && m_mix == 0.0 && m_limit == 1.0 && !m_skipping && m_fadeOut == 0
            && m_fadeIn == 0;
    }
    void beginClip(SpeechState *state, bool boosting);
    void waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 playedUs);
    void cut(qint64 fromUs, qint64 toUs);
    float shape(float sample, int channel, double limit);

    mutable QMutex m_lock; // guards m_state, m_newClip and m_cuts
    std::shared_ptr<SpeechState> m_state;
    bool m_newClip = true;
    SpeechPlan::CutMap m_cuts;

    int m_rate = 0;
    int m_channels = 0;
    int m_fadeFrames = 1;
    double m_speed = 1.0;
    bool m_timed = false;
    bool m_fresh = true;      // nothing played since the segment started
    qint64 m_cutUs = 0;       // cut since the segment started
    bool m_skipping = false;
    qint64 m_skipUntilUs = 0;
    qint64 m_cutEndUs = 0;    // where the cut being faded into ends
    int m_fadeOut = 0;        // frames left
    int m_fadeIn = 0;
    double m_gain = 1.0;
    double m_mix = 0.0;       // of the high-pass
    double m_limit = 1.0;
    double m_ramp = 0, m_release = 0, m_attack = 0;
    double m_waitBudgetMs = kMostWaitMs;
    HighPass m_highPass;
};

// A clip is heard boosted from its first sound: the gain starts where it
// belongs.
void SmartProcessor::beginClip(SpeechState *state, bool boosting)
{
    m_waitBudgetMs = kMostWaitMs;
    if (boosting)
        m_waitBudgetMs -= state->waitFor(0, true, int(m_waitBudgetMs));
    m_gain = boosting ? SpeechPlan::toLinear(state->gainDb()) : 1.0;
    m_mix = boosting ? 1.0 : 0.0;
    m_limit = 1.0;
}

// Within a budget that playing refills: an analysis that cannot go on (its
// bytes have not arrived) never holds playback up for more than a blink.
void SmartProcessor::waitForAnalysis(SpeechState *state, qint64 fromUs, qint64 playedUs)
{
    m_waitBudgetMs = std::min(kMostWaitMs, m_waitBudgetMs + kWaitShare * double(playedUs) / 1000);
    if ((skip || boost) && m_waitBudgetMs >= 1)
        m_waitBudgetMs -= state->waitFor(skip ? fromUs + kPlanAheadUs : 0, boost, int(m_waitBudgetMs));
}

void SmartProcessor::cut(qint64 fromUs, qint64 toUs)
{
    QMutexLocker lock(&m_lock);
    m_cuts.add(fromUs - m_cutUs, toUs - fromUs, m_speed);
    m_cutUs += toUs - fromUs;
    m_skipping = true;
    m_skipUntilUs = toUs;
}

float SmartProcessor::shape(float sample, int channel, double limit)
{
    const double filtered = m_highPass.apply(channel, sample);
    double y = sample + m_mix * (filtered - sample);
    y *= m_gain * limit;
    if (boost || m_mix > 0 || m_gain > 1) {
        static const double ceiling = SpeechPlan::toLinear(SpeechPlan::kCeilingDb);
        y = std::clamp(y, -ceiling, ceiling);
    }
    return float(y);
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
    if (!m_timed || m_channels <= 0 || !GST_BUFFER_PTS_IS_VALID(input) || !state || (idle() && m_cutUs == 0)) {
        m_fresh = false;
        return input;
    }
    if (idle()) { // only the cuts made earlier move its time
        input = gst_buffer_make_writable(input);
        GST_BUFFER_PTS(input) -= GstClockTime(m_cutUs * 1000);
        return input;
    }

    const bool skipping = skip;
    const qint64 startUs = qint64(GST_BUFFER_PTS(input) / 1000);
    // Not for the first sound: a pause has yet to come.
    if (!m_fresh)
        waitForAnalysis(state.get(), startUs, qint64(GST_BUFFER_DURATION_IS_VALID(input) ? GST_BUFFER_DURATION(input) / 1000 : 0));
    const double gainTarget = boost ? SpeechPlan::toLinear(state->gainDb()) : 1.0;
    const double mixTarget = boost ? 1.0 : 0.0;
    GstMapInfo in;
    if (!gst_buffer_map(input, &in, GST_MAP_READ))
        return input;
    const auto *samples = reinterpret_cast<const float *>(in.data);
    const std::size_t frames = in.size / (sizeof(float) * std::size_t(m_channels));
    std::vector<float> out;
    out.reserve(frames * std::size_t(m_channels));
    qint64 outStartUs = -1;
    Cut next{};
    bool haveCut = skipping && state->cutAfter(startUs, &next);
    qint64 limitBlock = -1;
    double limitTarget = 1.0;

    for (std::size_t i = 0; i < frames; ++i) {
        const qint64 us = startUs + qint64(i) * 1000000 / m_rate;
        if (m_skipping) {
            if (us < m_skipUntilUs)
                continue;
            m_skipping = false;
            m_fadeIn = m_fadeFrames;
        }
        if (haveCut && us >= next.endUs)
            haveCut = state->cutAfter(us, &next);
        // A cut planned ahead fades out just before it starts; one planned
        // late (or switched on inside a pause) fades out where it is.
        if (haveCut && m_fadeOut == 0 && us >= next.startUs - kFadeUs && us < next.endUs) {
            if (m_fresh && us >= next.startUs) { // a seek into a pause: on to its end
                cut(us, next.endUs);
                continue;
            }
            if (next.endUs - us > 2 * kFadeUs) {
                m_fadeOut = m_fadeFrames;
                m_cutEndUs = next.endUs;
            }
        }
        if (us / kFrameUs != limitBlock) {
            limitBlock = us / kFrameUs;
            const float peak = boost ? state->peak(us - kLookBehindUs, us + kLookAheadUs) : -1;
            limitTarget = peak > 0 ? SpeechPlan::limiterGain(peak, 20 * std::log10(gainTarget)) : 1.0;
        }
        m_gain += (gainTarget - m_gain) * m_ramp;
        m_mix += (mixTarget - m_mix) * m_ramp;
        if (std::fabs(m_mix - mixTarget) < 1e-4)
            m_mix = mixTarget;
        if (std::fabs(m_gain - gainTarget) < 1e-5)
            m_gain = gainTarget;
        m_limit = limitTarget < m_limit ? std::max(limitTarget, m_limit - m_attack)
                                        : m_limit + (limitTarget - m_limit) * m_release;
        if (m_limit > 0.99999)
            m_limit = 1.0;

        double fade = 1.0;
        if (m_fadeOut > 0)
            fade = double(m_fadeOut - 1) / m_fadeFrames;
        else if (m_fadeIn > 0)
            fade = double(m_fadeFrames - m_fadeIn + 1) / m_fadeFrames;
        if (outStartUs < 0)
            outStartUs = us - m_cutUs;
        for (int c = 0; c < m_channels; ++c)
            out.push_back(float(shape(samples[i * std::size_t(m_channels) + std::size_t(c)], c, m_limit) * fade));
        m_fresh = false;
        if (m_fadeIn > 0)
            --m_fadeIn;
        if (m_fadeOut > 0 && --m_fadeOut == 0)
            cut(us + 1000000 / m_rate, m_cutEndUs);
    }
    gst_buffer_unmap(input, &in);

    GstBuffer *output = gst_buffer_new_allocate(nullptr, out.size() * sizeof(float), nullptr);
    gst_buffer_fill(output, 0, out.data(), out.size() * sizeof(float));
    gst_buffer_copy_into(output, input, GST_BUFFER_COPY_FLAGS, 0, -1);
    GST_BUFFER_PTS(output) = GstClockTime(std::max<qint64>(0, outStartUs) * 1000);
    GST_BUFFER_DURATION(output) = gst_util_uint64_scale(out.size() / std::size_t(m_channels), GST_SECOND, guint64(m_rate));
    gst_buffer_unref(input);
    if (out.empty()) {
        gst_buffer_unref(output);
        return nullptr;
    }
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
    GstBuffer *output = filter->processor->process(buffer);
    return output ? gst_pad_push(filter->srcPad, output) : GST_FLOW_OK;
}

gboolean sinkEvent(GstPad *pad, GstObject *parent, GstEvent *event)
{
    BrimwoldSmartFilter *filter = filterOf(parent);
    switch (GST_EVENT_TYPE(event)) {
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
