#include "speechanalysis.h"

#include "clipmemory.h"
#include "log.h"
#include "sampletime.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <limits>

#include <ebur128.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

namespace {

constexpr std::size_t kFramesPerMeasure = 100; // the loudness is taken again every second
constexpr std::size_t kHeldFrames = 5;        // a gap this short holds the level around it
constexpr qint64 kLongestGapFrames = 60000;   // a longer jump in time is taken as none
constexpr int kPeakZero = 243;                // the code of a full-scale peak

quint8 peakCode(float peak)
{
    if (!(peak > 0))
        return 0;
    const double code = std::ceil(40 * std::log10(double(peak))) + kPeakZero;
    return quint8(std::clamp(code, 1.0, 255.0));
}

float peakOf(quint8 code)
{
    return code == 0 ? 0.0f : float(std::pow(10.0, (int(code) - kPeakZero) / 40.0));
}

} // namespace

struct SpeechState::Meter
{
    ebur128_state *state = nullptr;
    ~Meter() { ebur128_destroy(&state); }
};

SpeechState::SpeechState() = default;
SpeechState::~SpeechState() = default;

void SpeechState::addAudio(const float *samples, std::size_t frames, int rate, int channels, qint64 startNs,
                           bool discontinuous)
{
    QMutexLocker lock(&m_mutex);
    if (m_finished || rate <= 0 || channels <= 0)
        return;
    if (!m_meter || rate != m_clock.rate() || channels != m_channels
        || (startNs >= 0 && (discontinuous || !m_clock.follows(startNs, rate))))
        restartClock(rate, channels, startNs >= 0 ? startNs : m_clock.nextNs());
    measureLoudness(samples, frames);
    for (std::size_t i = 0; i < frames; ++i) {
        if (m_clock.frameDone())
            endFrame();
        for (int c = 0; c < channels; ++c) {
            const float sample = SpeechPlan::audible(samples[i * std::size_t(channels) + std::size_t(c)]);
            m_frameSquares += double(sample) * sample;
            // The high-pass can make a sudden peak higher still.
            const float filtered = float(std::fabs(m_highPass.apply(c, sample)));
            m_framePeak = std::max({m_framePeak, std::fabs(sample), filtered});
        }
        m_frameFill += std::size_t(channels);
        m_clock.countSample();
    }
    m_progress.wakeAll();
}

// What is no number is measured as silence, as it is heard.
void SpeechState::measureLoudness(const float *samples, std::size_t frames)
{
    if (!m_meter->state)
        return;
    const std::size_t count = frames * std::size_t(m_channels);
    if (std::all_of(samples, samples + count, [](float sample) { return std::isfinite(sample); })) {
        ebur128_add_frames_float(m_meter->state, samples, frames);
        return;
    }
    std::vector<float> audible(samples, samples + count);
    std::transform(audible.begin(), audible.end(), audible.begin(), &SpeechPlan::audible);
    ebur128_add_frames_float(m_meter->state, audible.data(), frames);
}

// The clip goes on at startNs, perhaps at another rate: the frame it falls
// in is where the analysis goes on, frames skipped over are filled in, and
// audio that reaches back into what was heard is taken as following on.
void SpeechState::restartClock(int rate, int channels, qint64 startNs)
{
    const bool changed = rate != m_clock.rate() || channels != m_channels;
    if (!m_meter) {
        m_meter = std::make_unique<Meter>();
        m_meter->state = ebur128_init(unsigned(channels), (unsigned long)rate, EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM);
    } else if (changed && m_meter->state
               && ebur128_change_parameters(m_meter->state, unsigned(channels), (unsigned long)rate) == EBUR128_ERROR_NOMEM) {
        ebur128_destroy(&m_meter->state);
    }
    if (changed)
        m_highPass.configure(rate, channels);
    m_channels = channels;
    const qint64 start = SampleTime::fromNs(startNs, rate);
    const qint64 frame = FrameClock::frameOf(start, rate);
    const qint64 current = qint64(m_peaks.size());
    qint64 next = 0;
    if (frame > current && frame - current <= kLongestGapFrames) {
        if (m_frameFill > 0)
            endFrame();
        fillTo(frame);
        next = start;
    } else if (frame == current) {
        next = start;
    } else {
        next = FrameClock::frameStart(current, rate) + qint64(m_frameFill) / channels;
    }
    m_clock.restart(rate, next, qint64(m_peaks.size()));
}

// Frames the audio skipped over: a dropped frame or two hold the level
// around them, a longer gap is heard as silence.
void SpeechState::fillTo(qint64 frame)
{
    const bool held = std::size_t(frame) - m_peaks.size() <= kHeldFrames;
    const quint8 peak = held && !m_peaks.empty() ? m_peaks.back() : 0;
    while (qint64(m_peaks.size()) < frame)
        storeFrame(held ? m_lastDb : -120.0, peak);
}

void SpeechState::endFrame()
{
    const double meanSquare = m_frameFill > 0 ? m_frameSquares / double(m_frameFill) : 0;
    storeFrame(meanSquare > 0 ? 10 * std::log10(meanSquare) : -120.0, peakCode(m_framePeak));
    m_frameFill = 0;
    m_frameSquares = 0;
    m_framePeak = 0;
}

void SpeechState::storeFrame(double db, quint8 peak)
{
    m_planner.addFrame(db);
    m_peaks.push_back(peak);
    m_lastDb = db;
    m_clock.enterFrame(qint64(m_peaks.size()));
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
    m_measuredUs = qint64(m_peaks.size()) * SpeechPlan::kFrameUs;
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
    qint64 last = toUs / SpeechPlan::kFrameUs;
    if (m_finished) // nothing comes after the end
        last = std::min(last, qint64(m_peaks.size()) - 1);
    if (last >= qint64(m_peaks.size()))
        return -1;
    quint8 loudest = 0;
    for (qint64 frame = first; frame <= last; ++frame)
        loudest = std::max(loudest, m_peaks[std::size_t(frame)]);
    return peakOf(loudest);
}

double SpeechState::gainDb() const
{
    QMutexLocker lock(&m_mutex);
    return m_measuredUs >= SpeechPlan::kFirstMeasureUs || m_finished ? m_gainDb : 0.0;
}

int SpeechState::waitFor(const Wanted &wanted, int timeoutMs, const std::atomic<bool> &interrupted) const
{
    QMutexLocker lock(&m_mutex);
    QElapsedTimer waited;
    waited.start();
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_finished && !interrupted
           && (m_planner.settledUs() < wanted.plannedUs || m_measuredUs < wanted.measuredUs
               || qint64(m_peaks.size()) * SpeechPlan::kFrameUs < wanted.peaksUs)
           && !deadline.hasExpired())
        m_progress.wait(&m_mutex, deadline);
    return int(waited.elapsed());
}

void SpeechState::wake()
{
    QMutexLocker lock(&m_mutex);
    m_progress.wakeAll();
}

qint64 SpeechState::analysedUs() const
{
    QMutexLocker lock(&m_mutex);
    return qint64(m_peaks.size()) * SpeechPlan::kFrameUs;
}

qint64 SpeechState::measuredUs() const
{
    QMutexLocker lock(&m_mutex);
    return m_finished ? std::numeric_limits<qint64>::max() : m_measuredUs;
}

bool SpeechState::isFinished() const
{
    QMutexLocker lock(&m_mutex);
    return m_finished;
}

std::size_t SpeechState::keptBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_peaks.capacity() + m_planner.framesKept() * sizeof(float);
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
                                GST_AUDIO_INFO_CHANNELS(&info),
                                GST_BUFFER_PTS_IS_VALID(buffer) ? qint64(GST_BUFFER_PTS(buffer)) : -1,
                                GST_BUFFER_IS_DISCONT(buffer));
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void endOfStream(GstAppSink *, gpointer data)
{
    stateOf(data)->finish();
}

// Nobody reads the analysis's bus: what it says is dropped, but an error
// ends the analysis with what it has heard, so that nothing waits for it.
GstBusSyncReply busMessage(GstBus *, GstMessage *message, gpointer data)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        warningLog() << "clip analysis stopped:" << (error ? error->message : "") << "- smart speed uses what it heard";
        g_clear_error(&error);
        stateOf(data)->finish();
    }
    return GST_BUS_DROP;
}

} // namespace

SpeechAnalysis::SpeechAnalysis(ClipMemory &clip, std::shared_ptr<SpeechState> state)
    : m_state(std::move(state))
{
    GError *error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) { // a player makes one first; a test may not
        g_clear_error(&error);
        return;
    }
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
        clip.attach(GST_APP_SRC(source));
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &newSample;
        callbacks.eos = &endOfStream;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, m_state.get(), nullptr);
        GstBus *bus = gst_element_get_bus(pipeline);
        gst_bus_set_sync_handler(bus, &busMessage, m_state.get(), nullptr);
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
