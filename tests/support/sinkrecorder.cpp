#include "sinkrecorder.h"

#include "playback.h"

#include <QMutexLocker>

#include <ebur128.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>

bool connectProbe(Playback *playback, void (*handoff)(GstElement *, GstBuffer *, GstPad *, void *), void *data)
{
    GstElement *bin = playback->audioSink();
    GstElement *probe = bin && GST_IS_BIN(bin) ? gst_bin_get_by_name(GST_BIN(bin), "probe") : nullptr;
    if (!probe)
        return false;
    g_signal_connect(probe, "handoff", G_CALLBACK(handoff), data);
    gst_object_unref(probe);
    return true;
}

QString SinkRecorder::sink(bool keepTime, int rate)
{
    return QStringLiteral("audioconvert ! %1audio/x-raw,format=F32LE%2 ! fakesink name=probe sync=%3 signal-handoffs=true")
        .arg(rate > 0 ? QStringLiteral("audioresample ! ") : QString(),
             rate > 0 ? QStringLiteral(",channels=1,rate=%1").arg(rate) : QString(),
             keepTime ? QStringLiteral("true") : QStringLiteral("false"));
}

bool SinkRecorder::attach(Playback *playback)
{
    if (playback->audioSink() && playback->audioSink() == m_probe)
        return true;
    m_probe = playback->audioSink();
    GstElement *probe = m_probe && GST_IS_BIN(m_probe) ? gst_bin_get_by_name(GST_BIN(m_probe), "probe") : nullptr;
    if (!probe)
        return false;
    // Where playback starts again: the sink is flushed.
    GstPad *pad = gst_element_get_static_pad(probe, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_FLUSH, &SinkRecorder::flushed, this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(probe);
    return connectProbe(playback, &SinkRecorder::handoff, this);
}

GstPadProbeReturn SinkRecorder::flushed(GstPad *, GstPadProbeInfo *info, void *data)
{
    auto *self = static_cast<SinkRecorder *>(data);
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) {
        QMutexLocker lock(&self->m_mutex);
        self->m_restarts.push_back(self->m_channels > 0 ? self->m_samples.size() / std::size_t(self->m_channels) : 0);
    }
    return GST_PAD_PROBE_OK;
}

void SinkRecorder::clear()
{
    QMutexLocker lock(&m_mutex);
    m_samples.clear();
    m_restarts.clear();
    m_timing.clear();
    m_buffers = 0;
}

// On the streaming thread, when the buffer's time has come.
void SinkRecorder::handoff(GstElement *, GstBuffer *buffer, GstPad *pad, void *data)
{
    auto *self = static_cast<SinkRecorder *>(data);
    QMutexLocker lock(&self->m_mutex);
    if (self->m_rate == 0) {
        GstCaps *caps = gst_pad_get_current_caps(pad);
        GstAudioInfo info;
        if (caps && gst_audio_info_from_caps(&info, caps)) {
            self->m_rate = GST_AUDIO_INFO_RATE(&info);
            self->m_channels = GST_AUDIO_INFO_CHANNELS(&info);
        }
        if (caps)
            gst_caps_unref(caps);
    }
    GstMapInfo map;
    if (self->m_channels == 0 || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const auto *floats = reinterpret_cast<const float *>(map.data);
    self->m_samples.insert(self->m_samples.end(), floats, floats + map.size / sizeof(float));
    self->m_timing.emplace_back(GST_BUFFER_PTS_IS_VALID(buffer) ? qint64(GST_BUFFER_PTS(buffer)) : -1,
                                map.size / sizeof(float) / std::size_t(self->m_channels));
    ++self->m_buffers;
    gst_buffer_unmap(buffer, &map);
}

std::vector<float> SinkRecorder::samples() const
{
    QMutexLocker lock(&m_mutex);
    return m_samples;
}

std::size_t SinkRecorder::frames() const
{
    QMutexLocker lock(&m_mutex);
    return m_channels > 0 ? m_samples.size() / std::size_t(m_channels) : 0;
}

int SinkRecorder::rate() const
{
    QMutexLocker lock(&m_mutex);
    return m_rate;
}

int SinkRecorder::channels() const
{
    QMutexLocker lock(&m_mutex);
    return m_channels;
}

int SinkRecorder::buffers() const
{
    QMutexLocker lock(&m_mutex);
    return m_buffers;
}

std::vector<std::size_t> SinkRecorder::restarts() const
{
    QMutexLocker lock(&m_mutex);
    return m_restarts;
}

std::vector<std::pair<qint64, std::size_t>> SinkRecorder::timing() const
{
    QMutexLocker lock(&m_mutex);
    return m_timing;
}

namespace Heard {

std::vector<Burst> bursts(const std::vector<float> &samples, int rate, int channels, double over)
{
    std::vector<Burst> found;
    const std::size_t frames = samples.size() / std::size_t(channels);
    const std::size_t bridge = std::size_t(rate * 3 / 100);
    std::size_t lastLoud = 0;
    bool any = false;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::fabs(samples[i * std::size_t(channels)]) <= over)
            continue;
        if (!any || i - lastLoud > bridge)
            found.push_back({double(i) / rate, double(i) / rate});
        found.back().end = double(i + 1) / rate;
        lastLoud = i;
        any = true;
    }
    return found;
}

double rmsDb(const std::vector<float> &samples, int rate, int channels, double from, double to)
{
    const std::size_t first = std::size_t(std::max(0.0, from) * rate) * std::size_t(channels);
    const std::size_t last = std::min(samples.size(), std::size_t(std::max(0.0, to) * rate) * std::size_t(channels));
    double sum = 0;
    for (std::size_t i = first; i < last; ++i)
        sum += double(samples[i]) * samples[i];
    return last > first && sum > 0 ? 10 * std::log10(sum / double(last - first)) : -120;
}

float peak(const std::vector<float> &samples, int channels, std::size_t fromFrame)
{
    float loudest = 0;
    for (std::size_t i = fromFrame * std::size_t(channels); i < samples.size(); ++i)
        loudest = std::max(loudest, std::fabs(samples[i]));
    return loudest;
}

double loudness(const std::vector<float> &samples, int rate, int channels)
{
    ebur128_state *meter = ebur128_init(unsigned(channels), (unsigned long)rate, EBUR128_MODE_I);
    ebur128_add_frames_float(meter, samples.data(), samples.size() / std::size_t(channels));
    double lufs = -HUGE_VAL;
    ebur128_loudness_global(meter, &lufs);
    ebur128_destroy(&meter);
    return lufs;
}

double frequency(const std::vector<float> &samples, int rate, int channels)
{
    int crossings = 0;
    double loudSeconds = 0;
    for (const Burst &burst : bursts(samples, rate, channels)) {
        loudSeconds += burst.end - burst.start;
        bool negative = false;
        for (auto n = std::size_t(burst.start * rate); n < std::size_t(burst.end * rate); ++n) {
            const float sample = samples[n * std::size_t(channels)];
            if (std::fabs(sample) > 0.02f && (sample < 0) != negative) { // a little hysteresis
                negative = !negative;
                ++crossings;
            }
        }
    }
    return loudSeconds > 0 ? crossings / 2.0 / loudSeconds : 0;
}

int longestRunAt(const std::vector<float> &samples, float level)
{
    int longest = 0;
    int run = 0;
    for (const float sample : samples) {
        run = std::fabs(sample) >= level ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

std::vector<float> decoded(const QByteArray &clip, int *rate, int *channels)
{
    const QString caps = *rate > 0 ? QStringLiteral("audioresample ! audio/x-raw,format=F32LE,channels=1,rate=%1").arg(*rate)
                                   : QStringLiteral("audio/x-raw,format=F32LE");
    QString made;
    const QByteArray bytes = through(QStringLiteral("appsrc name=in ! decodebin ! audioconvert ! %1 ! appsink name=out").arg(caps),
                                     clip, &made);
    GstCaps *madeCaps = gst_caps_from_string(made.toUtf8().constData());
    GstAudioInfo info;
    if (madeCaps && gst_audio_info_from_caps(&info, madeCaps)) {
        *rate = GST_AUDIO_INFO_RATE(&info);
        *channels = GST_AUDIO_INFO_CHANNELS(&info);
    }
    if (madeCaps)
        gst_caps_unref(madeCaps);
    const auto *floats = reinterpret_cast<const float *>(bytes.constData());
    return std::vector<float>(floats, floats + std::size_t(bytes.size()) / sizeof(float));
}

QByteArray through(const QString &description, const QByteArray &input, QString *caps)
{
    gst_init(nullptr, nullptr);
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), nullptr);
    QByteArray output;
    if (!pipeline)
        return output;
    GstElement *in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(out, "sync", FALSE, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBuffer *buffer = gst_buffer_new_memdup(input.constData(), gsize(input.size()));
    GST_BUFFER_PTS(buffer) = 0;
    gst_app_src_push_buffer(GST_APP_SRC(in), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(in));
    // Not forever: a pipeline that fails ends nothing.
    while (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 10 * GST_SECOND)) {
        GstMapInfo map;
        if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
            output.append(reinterpret_cast<const char *>(map.data), int(map.size));
            gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
        }
        if (caps && gst_sample_get_caps(sample)) {
            gchar *text = gst_caps_to_string(gst_sample_get_caps(sample));
            *caps = QString::fromUtf8(text);
            g_free(text);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(pipeline);
    return output;
}

} // namespace Heard
