#include "smartfilter.h"

#include "sampletime.h"
#include "smartprocessor.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <gst/audio/audio.h>
#include <gst/gst.h>

// The GStreamer element around it.
struct BrimwoldSmartFilter
{
    GstElement element;
    GstPad *sinkPad;
    GstPad *srcPad;
    SmartProcessor *processor;
    int channels;
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

// A long buffer in pieces short enough that the analysis is waited for
// before each is played.
std::vector<GstBuffer *> pieces(const SmartProcessor &processor, GstBuffer *input, int channels)
{
    const int rate = processor.rate();
    const std::size_t frameBytes = sizeof(float) * std::size_t(std::max(1, channels));
    const std::size_t frames = gst_buffer_get_size(input) / frameBytes;
    const std::size_t most = processor.pieceFrames();
    if (rate <= 0 || !GST_BUFFER_PTS_IS_VALID(input) || frames <= most)
        return {input};
    std::vector<GstBuffer *> pieces;
    for (std::size_t from = 0; from < frames; from += most) {
        const std::size_t count = std::min(most, frames - from);
        GstBuffer *piece = gst_buffer_copy_region(input, GST_BUFFER_COPY_ALL, from * frameBytes, count * frameBytes);
        GST_BUFFER_PTS(piece) = GST_BUFFER_PTS(input) + SampleTime::toNs(qint64(from), rate);
        GST_BUFFER_DURATION(piece) = SampleTime::toNs(qint64(from + count), rate) - SampleTime::toNs(qint64(from), rate);
        if (from > 0)
            GST_BUFFER_FLAG_UNSET(piece, GST_BUFFER_FLAG_DISCONT);
        pieces.push_back(piece);
    }
    gst_buffer_unref(input);
    return pieces;
}

// What the processor makes of one piece: the piece itself, perhaps
// retimed, new samples, or nothing.
GstBuffer *process(SmartProcessor &processor, GstBuffer *input, int channels)
{
    GstMapInfo map;
    if (!gst_buffer_map(input, &map, GST_MAP_READ))
        return input;
    const std::size_t frames = map.size / (sizeof(float) * std::size_t(std::max(1, channels)));
    const qint64 pts = GST_BUFFER_PTS_IS_VALID(input) ? qint64(GST_BUFFER_PTS(input)) : -1;
    SmartProcessor::Output output = processor.process(reinterpret_cast<const float *>(map.data), frames, pts);
    gst_buffer_unmap(input, &map);
    switch (output.kind) {
    case SmartProcessor::Output::Kind::Nothing:
        gst_buffer_unref(input);
        return nullptr;
    case SmartProcessor::Output::Kind::Input:
        if (output.ptsNs >= 0) {
            input = gst_buffer_make_writable(input);
            GST_BUFFER_PTS(input) = GstClockTime(output.ptsNs);
        }
        return input;
    case SmartProcessor::Output::Kind::Samples:
        break;
    }
    const gsize bytes = output.samples.size() * sizeof(float);
    GstBuffer *made = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_fill(made, 0, output.samples.data(), bytes);
    gst_buffer_copy_into(made, input, GST_BUFFER_COPY_FLAGS, 0, -1);
    GST_BUFFER_PTS(made) = GstClockTime(output.ptsNs);
    GST_BUFFER_DURATION(made) = GstClockTime(output.durationNs);
    gst_buffer_unref(input);
    return made;
}

GstFlowReturn chain(GstPad *, GstObject *parent, GstBuffer *buffer)
{
    BrimwoldSmartFilter *filter = filterOf(parent);
    SmartProcessor &processor = *filter->processor;
    GstFlowReturn result = GST_FLOW_OK;
    for (GstBuffer *piece : pieces(processor, buffer, filter->channels)) {
        if (result != GST_FLOW_OK) { // flushing, or the end: the rest goes unplayed
            gst_buffer_unref(piece);
            continue;
        }
        if (GstBuffer *output = process(processor, piece, filter->channels))
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
            event = gst_event_new_gap(GstClockTime(filter->processor->outputNs(qint64(time))), duration);
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
        filter->processor->setFormat(GST_AUDIO_INFO_RATE(&info), GST_AUDIO_INFO_CHANNELS(&info));
        filter->channels = GST_AUDIO_INFO_CHANNELS(&info);
        break;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment *segment = nullptr;
        gst_event_parse_segment(event, &segment);
        filter->processor->startSegment(segment->format == GST_FORMAT_TIME, segment->rate);
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
    filter->channels = 0;
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
    processorOf(filter)->setSkipSilence(on);
}

void setBoostVoice(GstElement *filter, bool on)
{
    processorOf(filter)->setBoostVoice(on);
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
