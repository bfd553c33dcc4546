#include "playback.h"

#include "clipdownload.h"
#include "smartspeed.h"

#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QTimer>

#include <limits>
#include <utility>

#include <gst/app/gstappsrc.h>
#include <gst/audio/streamvolume.h>
#include <gst/base/gstbaseparse.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>

namespace {

// How often a playing clip's position is read: often enough for the pane to
// move its slider by a pixel and its time by a second, and no more often,
// as a laptop plays on battery.
constexpr int kTickMs = 250;
constexpr guint kAudioOnly = 0x2 | 0x10; // playbin's flags: audio, with its own volume

qint64 toMs(gint64 ns)
{
    return ns / gint64(GST_MSECOND);
}

QString fromUtf8(const gchar *text)
{
    return QString::fromUtf8(text ? text : "");
}

bool within(const GstObject *object, const GstElement *ancestor)
{
    for (; object; object = GST_OBJECT_PARENT(object)) {
        if (object == GST_OBJECT_CAST(ancestor))
            return true;
    }
    return false;
}

Playback::Error errorOf(const GError *error)
{
    using Error = Playback::Error;
    if (error->domain == GST_CORE_ERROR)
        return error->code == GST_CORE_ERROR_MISSING_PLUGIN ? Error::ServiceMissing : Error::Other;
    if (error->domain == GST_RESOURCE_ERROR)
        return error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED ? Error::AccessDenied : Error::Resource;
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
        case GST_STREAM_ERROR_CODEC_NOT_FOUND: return Error::ServiceMissing;
        case GST_STREAM_ERROR_TYPE_NOT_FOUND: return Error::Resource;
        case GST_STREAM_ERROR_DECODE:
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_FORMAT:
        case GST_STREAM_ERROR_WRONG_TYPE:
        case GST_STREAM_ERROR_NOT_IMPLEMENTED: return Error::Format;
        default: return Error::Other;
        }
    }
    return Error::Other;
}

} // namespace

Playback::Playback(QObject *parent, QNetworkAccessManager *network)
    : QObject(parent)
    , m_sinkDescription(qEnvironmentVariable("BRIMWOLD_AUDIO_SINK"))
    , m_ticker(new QTimer(this))
    , m_network(network ? network : new QNetworkAccessManager(this))
    , m_smart(new SmartSpeed(this))
    , m_limits(ClipDownload::defaultLimits())
{
    // Queued, spied on and compared as values.
    qRegisterMetaType<Playback::State>();
    qRegisterMetaType<Playback::Status>();
    qRegisterMetaType<Playback::Error>();
    m_ticker->setInterval(kTickMs);
    connect(m_ticker, &QTimer::timeout, this, &Playback::tick);
    // A switch of smart speed goes on from where the clip is, at once: the
    // pipeline runs ahead of what is heard.
    connect(m_smart, &SmartSpeed::switched, this, [this] {
        if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
            seek(position());
    });

    GError *error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        m_missing = QStringLiteral("GStreamer: ") + fromUtf8(error ? error->message : nullptr);
        g_clear_error(&error);
        return;
    }
    m_pipeline = gst_element_factory_make("playbin", nullptr);
    if (!m_pipeline) {
        m_missing = QStringLiteral("playbin");
        return;
    }
    gst_object_ref_sink(m_pipeline);
    // Keeps the voice's pitch when the speed changes; playbin puts the
    // converters around it.
    GstElement *tempo = gst_element_factory_make("scaletempo", nullptr);
    if (!tempo)
        m_missing = QStringLiteral("scaletempo");
    else
        g_object_set(m_pipeline, "audio-filter", m_smart->audioFilter(tempo), nullptr);
    g_object_set(m_pipeline, "flags", kAudioOnly, nullptr);
    g_signal_connect(m_pipeline, "source-setup", G_CALLBACK(&Playback::sourceSetup), this);

    // The bus's descriptor is readable while messages wait, whichever event
    // loop Qt runs on.
    GstBus *bus = gst_element_get_bus(m_pipeline);
    GPollFD pollFd{};
    gst_bus_get_pollfd(bus, &pollFd);
    gst_object_unref(bus);
    m_busWatch = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, this);
    connect(m_busWatch, &QSocketNotifier::activated, this, &Playback::readBus);
}

Playback::~Playback()
{
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    delete m_clip; // before the network manager its fetch belongs to
}

void Playback::tagStreamsAsMusic()
{
    if (!qEnvironmentVariableIsSet("PULSE_PROP_media.role"))
        qputenv("PULSE_PROP_media.role", "music");
}

QString Playback::reason(Error error)
{
    switch (error) {
    case Error::Resource: return tr("无法读取音频");
    case Error::Format: return tr("不支持此音频格式");
    case Error::Network: return tr("网络错误");
    case Error::AccessDenied: return tr("无权访问此音频");
    case Error::ServiceMissing: return tr("缺少播放组件");
    case Error::TooLarge: return tr("音频过大");
    case Error::TimedOut: return tr("等待超时");
    case Error::Changed: return tr("服务器上的音频已更改");
    default: return tr("未知错误");
    }
}

void Playback::setFetchLimits(const FetchLimits &limits)
{
    m_limits = limits;
}

void Playback::setRetries(const ClipDownloadRetries &retries)
{
    m_retries = retries;
}

int Playback::reconnecting() const
{
    return m_clip ? m_clip->reconnecting() : 0;
}

void Playback::setAudioSink(const QString &description)
{
    m_sinkDescription = description;
    m_sinkChanged = true;
}

GstElement *Playback::audioSink() const
{
    if (!m_pipeline)
        return nullptr;
    GstElement *sink = nullptr;
    g_object_get(m_pipeline, "audio-sink", &sink, nullptr);
    if (sink)
        gst_object_unref(sink); // playbin holds it
    return sink;
}

void Playback::setSource(const QUrl &url)
{
    rest(Phase::Idle);
    discardClip();
    m_missingPlugin.clear();
    m_missingNotSound = false;
    m_source = url;
    emit sourceChanged(url);
    setState(State::Stopped);
    if (m_duration != 0)
        emit durationChanged(m_duration = 0);
    setSeekable(false);
    setPositionShown(0);

    if (url.isEmpty()) {
        setStatus(Status::NoMedia);
        return;
    }
    if (!isAvailable()) {
        fail(Error::ServiceMissing, QStringLiteral("missing GStreamer element: ") + m_missing);
        return;
    }
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        fail(Error::Resource, QStringLiteral("not a web address"));
        return;
    }
    startClip();
    startPipeline();
}

// The clip is fetched once and kept; the pipeline reads it from memory.
void Playback::startClip()
{
    m_clip = new ClipDownload(m_network, m_source, m_limits, m_retries, this);
    m_smart->setClip(m_clip);
    connect(m_clip, &ClipDownload::sizeKnown, this, [this] {
        if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
            readDuration();
    });
    connect(m_clip, &ClipDownload::finished, this, &Playback::downloadEnded);
    connect(m_clip, &ClipDownload::reconnectingChanged, this, &Playback::reconnectingChanged);
}

// Frees the clip's bytes at once, whatever still refers to them.
void Playback::discardClip()
{
    if (!m_clip)
        return;
    ClipDownload *clip = std::exchange(m_clip, nullptr);
    m_smart->setClip(nullptr);
    clip->disconnect(this);
    clip->release();
    clip->deleteLater();
    m_appsrc = nullptr;
}

// Where a clip comes to rest, whatever brought it there: the pipeline
// stopped, nothing of it waiting to be done. A failed clip keeps nothing.
void Playback::rest(Phase phase)
{
    stopPipeline(phase == Phase::Failed);
    if (phase == Phase::Failed) {
        discardClip();
        setSeekable(false);
    }
    setPhase(phase);
    m_nextSeek = -1;
    m_pausedBySink = false;
}

// A download that broke off after some of the clip arrived plays what
// arrived: the clip fails where its audio ends. One too large, or with
// nothing in it, fails now.
void Playback::downloadEnded()
{
    if (m_clip->leavesNothing())
        fail(m_clip->error(), m_clip->failure().detail);
}

bool Playback::applyAudioSink()
{
    if (!m_sinkChanged)
        return true;
    GstElement *sink = nullptr;
    GError *error = nullptr;
    if (m_sinkDescription.isEmpty())
        sink = gst_element_factory_make("autoaudiosink", nullptr);
    else
        sink = gst_parse_bin_from_description(m_sinkDescription.toUtf8().constData(), TRUE, &error);
    const QString detail = error ? fromUtf8(error->message) : QString();
    g_clear_error(&error);
    if (!sink) {
        fail(Error::ServiceMissing,
             QStringLiteral("no audio sink: %1 %2")
                 .arg(m_sinkDescription.isEmpty() ? QStringLiteral("autoaudiosink") : m_sinkDescription, detail));
        return false;
    }
    g_object_set(m_pipeline, "audio-sink", sink, nullptr);
    m_sinkChanged = false;
    return true;
}

// Prerolls paused whatever was asked for: a pause, seek or speed change
// asked for meanwhile takes effect before anything is heard.
void Playback::startPipeline()
{
    if (!applyAudioSink())
        return;
    g_object_set(m_pipeline, "uri", "appsrc://", nullptr);
    m_seekSeqnum = 0;
    setPhase(Phase::Loading);
    setStatus(Status::Loading);
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        readBus(); // the reason is on the bus already
        if (m_phase != Phase::Failed)
            fail(Error::Other, QStringLiteral("the pipeline did not start"));
    }
}

// Going down returns once the pipeline's threads have stopped; what the
// old clip posted is dropped from the bus. After a failure the pipeline
// goes all the way down, so that nothing of the failed clip's stream is
// left to spoil the next one.
void Playback::stopPipeline(bool fully)
{
    if (!m_pipeline || m_phase == Phase::Idle || m_phase == Phase::Failed)
        return;
    gst_element_set_state(m_pipeline, fully ? GST_STATE_NULL : GST_STATE_READY);
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_flushing(bus, TRUE);
    gst_bus_set_flushing(bus, FALSE);
    gst_object_unref(bus);
}

void Playback::sourceSetup(GstElement *, GstElement *source, Playback *self)
{
    // Called while the GUI thread starts the pipeline.
    if (GST_IS_APP_SRC(source) && self->m_clip) {
        self->m_clip->memory().attach(GST_APP_SRC(source));
        self->m_appsrc = source;
    }
}

void Playback::readBus()
{
    if (!m_pipeline)
        return;
    GstBus *bus = gst_element_get_bus(m_pipeline);
    while (GstMessage *message = gst_bus_pop(bus)) {
        handle(message);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
}

// What a message means for the current clip.
void Playback::handle(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (!isStale(message))
            prerolled();
        break;
    case GST_MESSAGE_EOS:
        // A seek's end comes after its preroll: one before is the old
        // segment's (elements do not all mark it with the seek's seqnum).
        if (m_phase != Phase::Seeking)
            ended();
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        if (m_phase == Phase::Ready || m_phase == Phase::Seeking) {
            readDuration();
            readSeekable();
        }
        break;
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) == GST_OBJECT_CAST(m_pipeline)) {
            GstState now = GST_STATE_NULL;
            gst_message_parse_state_changed(message, nullptr, &now, nullptr);
            if (now == GST_STATE_PLAYING && m_status == Status::Loaded)
                setStatus(Status::Buffered);
        }
        break;
    case GST_MESSAGE_REQUEST_STATE: {
        // The sound server pauses the stream, say while a call rings, and
        // may let it go on afterwards; a pause of the user's own stays.
        GstState wanted = GST_STATE_VOID_PENDING;
        gst_message_parse_request_state(message, &wanted);
        if (wanted == GST_STATE_PAUSED && m_state == State::Playing) {
            pause();
            m_pausedBySink = true;
        } else if (wanted == GST_STATE_PLAYING && m_pausedBySink && m_state == State::Paused) {
            play();
        }
        break;
    }
    case GST_MESSAGE_CLOCK_LOST:
        // A new clock is chosen on the way back to playing.
        if (m_phase == Phase::Ready && m_state == State::Playing) {
            gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
            gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
        }
        break;
    case GST_MESSAGE_ELEMENT:
        noteMissingPlugin(message);
        break;
    case GST_MESSAGE_ERROR:
        reportError(message);
        break;
    default:
        break;
    }
}

// Posted before the last seek was made, so not its outcome: seqnums grow,
// and a seek's preroll carries its own or a later one.
bool Playback::isStale(GstMessage *message) const
{
    return m_seekSeqnum != 0 && gst_util_seqnum_compare(gst_message_get_seqnum(message), m_seekSeqnum) < 0;
}

void Playback::noteMissingPlugin(GstMessage *message)
{
    if (!gst_is_missing_plugin_message(message))
        return;
    gchar *description = gst_missing_plugin_message_get_description(message);
    m_missingPlugin = fromUtf8(description);
    g_free(description);
    // A decoder for something that is not sound (a web page, say) is
    // missing only because the server sent no clip.
    const GValue *detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
    const GstCaps *caps = detail && GST_VALUE_HOLDS_CAPS(detail) ? gst_value_get_caps(detail) : nullptr;
    m_missingNotSound = caps && gst_caps_get_size(caps) > 0
        && !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

void Playback::reportError(GstMessage *message)
{
    GError *error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    Error kind = errorOf(error);
    QString text = fromUtf8(error->message);
    g_clear_error(&error);
    const bool played = m_phase == Phase::Ready || m_phase == Phase::Seeking;
    // A sink that cannot reach a sound device is a missing component.
    if (within(GST_MESSAGE_SRC(message), audioSink())) {
        kind = Error::ServiceMissing;
    } else if (m_clip && m_clip->broke()) {
        // What arrived ends in a broken frame, or is too little to decode.
        fail(m_clip->error(), m_clip->failure().detail, played);
        return;
    } else if (kind == Error::ServiceMissing && m_missingNotSound) {
        kind = Error::Resource;
    }
    if (!m_missingPlugin.isEmpty())
        text += QStringLiteral(" (%1)").arg(m_missingPlugin);
    fail(kind, text);
}

void Playback::prerolled()
{
    if (m_phase == Phase::Loading) {
        if (!hasRealSink()) {
            fail(Error::ServiceMissing, QStringLiteral("no usable audio sink (autoaudiosink found none)"));
            return;
        }
        setPhase(Phase::Ready);
        readDuration();
        readSeekable();
        setStatus(Status::Loaded);
        // The speed is re-applied to every clip: a seek carries it.
        if (m_nextSeek < 0 && m_rate != 1.0)
            m_nextSeek = 0;
    } else if (m_phase == Phase::Seeking) {
        setPhase(Phase::Ready);
        if (m_status == Status::Buffering)
            setStatus(Status::Buffered);
    } else {
        return;
    }
    const qint64 next = std::exchange(m_nextSeek, -1);
    if (next >= 0)
        seek(next);
    if (m_phase == Phase::Ready && m_state == State::Playing)
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

void Playback::ended()
{
    if (m_phase != Phase::Ready)
        return;
    if (m_clip && m_clip->broke()) {
        fail(m_clip->error(), m_clip->failure().detail, true);
        return;
    }
    m_smart->played(std::numeric_limits<qint64>::max() / 1000); // all of it, to its end
    rest(Phase::Idle);
    setStatus(Status::EndOfMedia);
    setState(State::Stopped);
    setPositionShown(0);
}

// Nothing of the clip is kept: a later play fetches it again.
void Playback::fail(Error error, const QString &text, bool cutShort)
{
    rest(Phase::Failed);
    emit errorOccurred(error, text, cutShort);
    setStatus(Status::Invalid);
    setState(State::Stopped);
}

// Flushing and accurate, from the given point at the current rate: a seek
// without the rate would set it back to 1x, and scaletempo takes a new rate
// only from the segment that such a seek starts. Overlapping flushing
// seeks may end at the older one, so a seek asked for while the pipeline
// cannot take it waits in the one slot, and the newest wins.
void Playback::seek(qint64 ms)
{
    if (m_phase == Phase::Ready) // what was played before counts; what was not, never will
        m_smart->played(playedMs());
    setPositionShown(ms);
    if (m_phase != Phase::Ready) {
        m_nextSeek = ms;
        return;
    }
    GstEvent *event = gst_event_new_seek(m_rate, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                         GST_SEEK_TYPE_SET, gint64(ms) * GST_MSECOND, GST_SEEK_TYPE_NONE,
                                         gint64(GST_CLOCK_TIME_NONE));
    const guint32 seqnum = gst_event_get_seqnum(event);
    if (!gst_element_send_event(m_pipeline, event))
        return;
    m_seekSeqnum = seqnum;
    setPhase(Phase::Seeking);
}

void Playback::readDuration()
{
    gint64 ns = -1;
    qint64 ms = 0;
    if (gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
        ms = toMs(ns);
    else
        ms = estimatedDuration();
    if (ms > 0 && ms != m_duration)
        emit durationChanged(m_duration = ms);
}

// A plain MP3 stream states no length, and the pipeline works one out only
// after playing a while; its parser can tell from the clip's size at once.
qint64 Playback::estimatedDuration() const
{
    const qint64 bytes = m_clip ? m_clip->size() : -1;
    if (bytes <= 0)
        return 0;
    GstIterator *elements = gst_bin_iterate_recurse(GST_BIN(m_pipeline));
    GValue found = G_VALUE_INIT;
    const auto isParser = [](gconstpointer value, gconstpointer) {
        return GST_IS_BASE_PARSE(g_value_get_object(static_cast<const GValue *>(value))) ? 0 : 1;
    };
    qint64 ms = 0;
    if (gst_iterator_find_custom(elements, isParser, &found, nullptr)) {
        gint64 ns = -1;
        if (gst_element_query_convert(GST_ELEMENT(g_value_get_object(&found)), GST_FORMAT_BYTES, bytes,
                                      GST_FORMAT_TIME, &ns)
            && ns > 0)
            ms = toMs(ns);
        g_value_unset(&found);
    }
    gst_iterator_free(elements);
    return ms;
}

void Playback::readSeekable()
{
    GstQuery *query = gst_query_new_seeking(GST_FORMAT_TIME);
    gboolean seekable = FALSE;
    if (gst_element_query(m_pipeline, query))
        gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    gst_query_unref(query);
    setSeekable(seekable);
}

void Playback::setSeekable(bool seekable)
{
    if (seekable != m_seekable)
        emit seekableChanged(m_seekable = seekable);
}

// autoaudiosink falls back to a sink that plays nothing, at full speed,
// when it finds no sound device.
bool Playback::hasRealSink() const
{
    if (!m_sinkDescription.isEmpty())
        return true; // what was asked for
    GstElement *sink = audioSink();
    if (!sink || !GST_IS_BIN(sink))
        return true;
    GstIterator *elements = gst_bin_iterate_recurse(GST_BIN(sink));
    GValue found = G_VALUE_INIT;
    const auto isFake = [](gconstpointer value, gconstpointer) {
        GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(static_cast<const GValue *>(value))));
        return factory && g_str_equal(GST_OBJECT_NAME(factory), "fakesink") ? 0 : 1;
    };
    const bool fake = gst_iterator_find_custom(elements, isFake, &found, nullptr);
    if (fake)
        g_value_unset(&found);
    gst_iterator_free(elements);
    return !fake;
}

// Runs while the clip plays, and while a seek waits, perhaps for bytes
// that have not arrived.
void Playback::tick()
{
    if (m_phase == Phase::Ready) {
        const qint64 played = playedMs();
        if (played >= 0) {
            m_smart->played(played);
            setPositionShown(m_smart->clipMs(played));
        }
    } else if (m_phase != Phase::Seeking) {
        return;
    }
    const bool waiting = m_clip && m_clip->memory().isWaiting(GST_APP_SRC_CAST(m_appsrc));
    if (waiting && m_status != Status::Buffering)
        setStatus(Status::Buffering);
    else if (!waiting && m_status == Status::Buffering)
        setStatus(Status::Buffered);
}

void Playback::play()
{
    if (m_source.isEmpty())
        return;
    m_pausedBySink = false;
    if (m_phase == Phase::Failed) { // try the clip again
        setSource(QUrl(m_source));
        if (m_phase == Phase::Failed)
            return;
    }
    setState(State::Playing);
    if (m_phase == Phase::Idle)
        startPipeline();
    else if (m_phase == Phase::Ready)
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

void Playback::pause()
{
    if (m_source.isEmpty() || m_phase == Phase::Failed)
        return;
    m_pausedBySink = false;
    setState(State::Paused);
    if (m_phase == Phase::Idle)
        startPipeline();
    else if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
}

// A stop also stops a broken download asking again: no request goes out
// after it.
void Playback::stop()
{
    if (m_clip)
        m_clip->stopRetrying();
    if (m_phase != Phase::Failed) {
        rest(Phase::Idle);
        if (m_status != Status::NoMedia && m_status != Status::EndOfMedia)
            setStatus(Status::Loaded);
    }
    setState(State::Stopped);
    setPositionShown(0);
}

qint64 Playback::position() const
{
    const qint64 played = playedMs();
    return played >= 0 ? m_smart->clipMs(played) : m_position;
}

// What the pipeline has played since it last started or sought: the clip's
// time less what smart speed cut meanwhile. -1 when it cannot say.
qint64 Playback::playedMs() const
{
    gint64 ns = -1;
    if (m_phase == Phase::Ready && gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &ns) && ns >= 0)
        return toMs(ns);
    return -1;
}

void Playback::setPosition(qint64 ms)
{
    if (m_source.isEmpty() || m_phase == Phase::Failed)
        return;
    ms = qMax<qint64>(0, ms);
    if (m_duration > 0)
        ms = qMin(ms, m_duration);
    seek(ms); // from there once prerolled, if it has not
}

void Playback::setVolume(int percent)
{
    percent = qBound(0, percent, 100);
    if (percent == m_volume)
        return;
    m_volume = percent;
    applyVolume();
    emit volumeChanged(percent);
}

void Playback::setFade(double level)
{
    m_fade = qBound(0.0, level, 1.0);
    applyVolume();
}

// The fade scales the volume on the slider's own scale, as the slider would.
void Playback::applyVolume()
{
    if (m_pipeline)
        gst_stream_volume_set_volume(GST_STREAM_VOLUME(m_pipeline), GST_STREAM_VOLUME_FORMAT_CUBIC,
                                     m_volume / 100.0 * m_fade);
}

void Playback::setMuted(bool muted)
{
    if (muted == m_muted)
        return;
    m_muted = muted;
    if (m_pipeline)
        g_object_set(m_pipeline, "mute", gboolean(muted), nullptr);
    emit mutedChanged(muted);
}

// Keeps the position: a flushing seek from where the clip is, at the new
// rate. Before the clip has prerolled the rate waits for it.
void Playback::setRate(double rate)
{
    if (rate <= 0 || rate == m_rate)
        return;
    m_rate = rate;
    if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
        seek(position());
}

void Playback::setPhase(Phase phase)
{
    m_phase = phase;
    updateTicker();
}

void Playback::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    updateTicker();
    emit stateChanged(state);
}

void Playback::updateTicker()
{
    const bool run = m_state == State::Playing || m_phase == Phase::Seeking;
    if (run && !m_ticker->isActive())
        m_ticker->start();
    else if (!run)
        m_ticker->stop();
}

void Playback::setStatus(Status status)
{
    if (status != m_status)
        emit statusChanged(m_status = status);
}

void Playback::setPositionShown(qint64 ms)
{
    if (ms != m_position)
        emit positionChanged(m_position = ms);
}
