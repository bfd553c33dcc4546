#include "media/speechanalysis.h"

#include "media/clipsource.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>

#include <ebur128.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

namespace {

constexpr std::size_t kFramesPerMeasure = 100; // the loudness is taken again every second
constexpr qint64 kMeasuredUs = 3000000;        // enough to set the gain from

} // namespace

struct SpeechState::Meter
{
    ebur128_state *state = nullptr;
    ~Meter() { ebur128_destroy(&state); }
};

SpeechState::SpeechState() = default;
SpeechState::~SpeechState() = default;

void SpeechState::addAudio(const float *samples, std::size_t frames, int rate, int channels)
{
    QMutexLocker lock(&m_mutex);
    if (m_finished || rate <= 0 || channels <= 0)
        return;
    if (!m_meter) {
        m_rate = rate;
        m_channels = channels;
        m_frameSize = std::size_t(std::max<qint64>(1, qint64(rate) * SpeechPlan::kFrameUs / 1000000));
        m_meter = std::make_unique<Meter>();
        m_meter->state = ebur128_init(unsigned(channels), (unsigned long)rate, EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    }
    if (rate != m_rate || channels != m_channels)
        return; // a clip does not change its format; ignore one that does
    if (m_meter->state)
        ebur128_add_frames_float(m_meter->state, samples, frames);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const float sample = samples[i * std::size_t(channels) + std::size_t(c)];
            m_frameSquares += double(sample) * sample;
            m_framePeak = std::max(m_framePeak, std::fabs(sample));
        }
        if (++m_frameFill == m_frameSize)
            endFrame();
    }
    m_progress.wakeAll();
}

void SpeechState::endFrame()
{
    const double meanSquare = m_frameSquares / double(m_frameFill * std::size_t(m_channels));
    m_planner.addFrame(meanSquare > 0 ? 10 * std::log10(meanSquare) : -120.0);
    m_peaks.push_back(m_framePeak);
    m_frameFill = 0;
    m_frameSquares = 0;
    m_framePeak = 0;
    if (m_peaks.size() % kFramesPerMeasure == 0)
        measure();
}

void SpeechState::finish()
{
    QMutexLocker lock(&m_mutex);
    if (m_finished)
        return;
    if (m_frameFill > 0)
        endFrame();
    m_planner.finish();
    m_finished = true;
    measure();
    m_progress.wakeAll();
}

void SpeechState::measure()
{
    double lufs = -HUGE_VAL;
    if (m_meter && m_meter->state && ebur128_loudness_global(m_meter->state, &lufs) != EBUR128_SUCCESS)
        return;
    m_gainDb = SpeechPlan::boostGainDb(lufs, m_channels);
    if (!m_loudnessKnown && (m_finished || qint64(m_peaks.size()) * SpeechPlan::kFrameUs >= kMeasuredUs))
        m_loudnessKnown = true;
}

bool SpeechState::cutAfter(qint64 us, SpeechPlan::Cut *cut) const
{
    QMutexLocker lock(&m_mutex);
    const std::vector<SpeechPlan::Cut> &cuts = m_planner.cuts();
    const auto found = std::upper_bound(cuts.cbegin(), cuts.cend(), us,
                                        [](qint64 time, const SpeechPlan::Cut &c) { return time < c.endUs; });
    if (found == cuts.cend())
        return false;
    *cut = *found;
    return true;
}

float SpeechState::peak(qint64 fromUs, qint64 toUs) const
{
    QMutexLocker lock(&m_mutex);
    const qint64 first = std::max<qint64>(0, fromUs / SpeechPlan::kFrameUs);
    const qint64 last = toUs / SpeechPlan::kFrameUs;
    if (last >= qint64(m_peaks.size()))
        return -1;
    float loudest = 0;
    for (qint64 frame = first; frame <= last; ++frame)
        loudest = std::max(loudest, m_peaks[std::size_t(frame)]);
    return loudest;
}

double SpeechState::gainDb() const
{
    QMutexLocker lock(&m_mutex);
    return m_loudnessKnown ? m_gainDb : 0.0;
}

int SpeechState::waitFor(qint64 decidedUs, bool loudness, int timeoutMs) const
{
    QMutexLocker lock(&m_mutex);
    QElapsedTimer waited;
    waited.start();
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_finished && (m_planner.decidedUs() < decidedUs || (loudness && !m_loudnessKnown)) && !deadline.hasExpired())
        m_progress.wait(&m_mutex, deadline);
    return int(waited.elapsed());
}

qint64 SpeechState::analysedUs() const
{
    QMutexLocker lock(&m_mutex);
    return qint64(m_peaks.size()) * SpeechPlan::kFrameUs;
}

bool SpeechState::isFinished() const
{
    QMutexLocker lock(&m_mutex);
    return m_finished;
}

namespace {

SpeechState *stateOf(gpointer data)
{
    return static_cast<SpeechState *>(data);
}

GstFlowReturn newSample(GstAppSink *sink, gpointer data)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstAudioInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (gst_audio_info_from_caps(&info, gst_sample_get_caps(sample)) && buffer
        && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const std::size_t frames = map.size / std::size_t(GST_AUDIO_INFO_BPF(&info));
        stateOf(data)->addAudio(reinterpret_cast<const float *>(map.data), frames, GST_AUDIO_INFO_RATE(&info),
                                GST_AUDIO_INFO_CHANNELS(&info));
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void endOfStream(GstAppSink *, gpointer data)
{
    stateOf(data)->finish();
}

} // namespace

SpeechAnalysis::SpeechAnalysis(ClipSource *clip, std::shared_ptr<SpeechState> state)
    : m_state(std::move(state))
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch("appsrc name=clip ! decodebin ! audioconvert ! "
                                            "audio/x-raw,format=F32LE,layout=interleaved ! "
                                            "appsink name=heard sync=false",
                                            &error);
    g_clear_error(&error);
    if (!pipeline)
        return;
    gst_object_ref_sink(pipeline);
    GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), "clip");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "heard");
    if (source && sink) {
        clip->attach(GST_APP_SRC(source));
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &newSample;
        callbacks.eos = &endOfStream;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, m_state.get(), nullptr);
        // Nobody reads its bus: what it says is dropped, not kept.
        GstBus *bus = gst_element_get_bus(pipeline);
        gst_bus_set_flushing(bus, TRUE);
        gst_object_unref(bus);
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
            m_pipeline = pipeline;
    }
    if (source)
        gst_object_unref(source);
    if (sink)
        gst_object_unref(sink);
    if (!m_pipeline) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
}

// Returns once its threads have stopped: nothing calls the state after.
SpeechAnalysis::~SpeechAnalysis()
{
    if (!m_pipeline)
        return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
}
