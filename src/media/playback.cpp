#include "media/playback.h"

#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <utility>

#include <gst/app/gstappsrc.h>
#include <gst/audio/streamvolume.h>
#include <gst/base/gstbaseparse.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>

namespace {

constexpr guint kChunkBytes = 64 * 1024; // handed to the pipeline at a time
constexpr int kTickMs = 100;             // how often a playing clip's position is read
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

Playback::Error errorOf(const FetchFailure &failure)
{
    switch (failure.kind) {
    case FetchFailure::Kind::TimedOut: return Playback::Error::TimedOut;
    case FetchFailure::Kind::TooLarge: return Playback::Error::TooLarge;
    case FetchFailure::Kind::HttpStatus:
        return failure.httpStatus == 401 || failure.httpStatus == 403 ? Playback::Error::AccessDenied
                                                                       : Playback::Error::Resource;
    default: return Playback::Error::Network;
    }
}

} // namespace

// One clip in memory as it arrives. The fetch adds to it on the GUI
// thread; the pipeline's source reads from it on its streaming thread,
// from wherever the pipeline seeks to, and waits where nothing has arrived
// yet.
class Playback::Clip
{
public:
    Clip() = default;
    ~Clip() { detach(); }
    Clip(const Clip &) = delete;
    Clip &operator=(const Clip &) = delete;

    // A new reader, from the start: each start of the pipeline has one.
    void attach(GstAppSrc *source)
    {
        QMutexLocker lock(&m_mutex);
        release();
        m_source = GST_APP_SRC(gst_object_ref(source));
        m_offset = 0;
        m_wanted = false;
        m_starved = false;
        g_object_set(source, "stream-type", GST_APP_STREAM_TYPE_SEEKABLE, "format", GST_FORMAT_BYTES, "size",
                     gint64(m_size), nullptr);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = &Clip::needData;
        callbacks.enough_data = &Clip::enoughData;
        callbacks.seek_data = &Clip::seekData;
        gst_app_src_set_callbacks(source, &callbacks, this, nullptr);
    }

    void detach()
    {
        QMutexLocker lock(&m_mutex);
        release();
    }

    void append(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        QMutexLocker lock(&m_mutex);
        m_data += bytes;
        feed();
    }

    void complete()
    {
        QMutexLocker lock(&m_mutex);
        m_complete = true;
        setSizeLocked(m_data.size());
        feed();
    }

    void setSize(qint64 bytes)
    {
        QMutexLocker lock(&m_mutex);
        setSizeLocked(bytes);
    }

    qint64 size() const
    {
        QMutexLocker lock(&m_mutex);
        return m_size;
    }

    // The reader waits for bytes that have not arrived.
    bool starved() const { return m_starved; }

private:
    static Clip *of(gpointer data) { return static_cast<Clip *>(data); }

    static void needData(GstAppSrc *source, guint, gpointer data)
    {
        Clip *clip = of(data);
        QMutexLocker lock(&clip->m_mutex);
        if (source != clip->m_source)
            return;
        clip->m_wanted = true;
        clip->feed();
    }

    static void enoughData(GstAppSrc *source, gpointer data)
    {
        Clip *clip = of(data);
        QMutexLocker lock(&clip->m_mutex);
        if (source == clip->m_source)
            clip->m_wanted = false;
    }

    // The source flushes what it holds after this, so nothing is handed
    // over until it asks again.
    static gboolean seekData(GstAppSrc *source, guint64 offset, gpointer data)
    {
        Clip *clip = of(data);
        QMutexLocker lock(&clip->m_mutex);
        if (source != clip->m_source)
            return TRUE;
        if (clip->m_size >= 0 && qint64(offset) > clip->m_size)
            return FALSE;
        clip->m_offset = qint64(offset);
        clip->m_wanted = false;
        return TRUE;
    }

    // With m_mutex held.
    void feed()
    {
        if (!m_source || !m_wanted)
            return;
        const qint64 available = m_data.size() - m_offset;
        if (available > 0) {
            const qint64 n = qMin<qint64>(available, kChunkBytes);
            GstBuffer *buffer = gst_buffer_new_memdup(m_data.constData() + m_offset, gsize(n));
            GST_BUFFER_OFFSET(buffer) = guint64(m_offset);
            m_offset += n;
            m_wanted = false;
            m_starved = false;
            gst_app_src_push_buffer(m_source, buffer);
        } else if (m_complete) {
            m_wanted = false;
            m_starved = false;
            gst_app_src_end_of_stream(m_source);
        } else {
            m_starved = true;
        }
    }

    void setSizeLocked(qint64 bytes)
    {
        m_size = bytes;
        if (m_source)
            gst_app_src_set_size(m_source, bytes);
    }

    void release()
    {
        if (m_source) {
            GstAppSrcCallbacks none{};
            gst_app_src_set_callbacks(m_source, &none, nullptr, nullptr);
            gst_object_unref(m_source);
        }
        m_source = nullptr;
        m_wanted = false;
        m_starved = false;
    }

    mutable QMutex m_mutex; // guards all but m_starved
    QByteArray m_data;
    qint64 m_size = -1; // -1 while unknown
    bool m_complete = false;
    GstAppSrc *m_source = nullptr; // the reader, with a reference of our own
    qint64 m_offset = 0;           // where the reader goes on
    bool m_wanted = false;         // the reader asked and has not been served
    std::atomic<bool> m_starved{false};
};

Playback::Playback(QObject *parent)
    : QObject(parent)
    , m_sinkDescription(qEnvironmentVariable("BRIMWOLD_AUDIO_SINK"))
    , m_ticker(new QTimer(this))
    , m_network(new QNetworkAccessManager(this))
    , m_limits(clipLimits())
{
    m_ticker->setInterval(kTickMs);
    connect(m_ticker, &QTimer::timeout, this, &Playback::tick);

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
        g_object_set(m_pipeline, "audio-filter", tempo, nullptr);
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
    abortFetch();
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    if (m_clip)
        m_clip->detach();
}

FetchLimits Playback::clipLimits()
{
    // A clip may take as long as it needs, as long as its server keeps
    // sending; its size is bounded.
    return {64 * 1024 * 1024, 30 * 1000, 0};
}

void Playback::setFetchLimits(const FetchLimits &limits)
{
    m_limits = limits;
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

bool Playback::isAvailable() const
{
    return m_missing.isEmpty();
}

QString Playback::missingElement() const
{
    return m_missing;
}

QUrl Playback::source() const
{
    return m_source;
}

Playback::State Playback::state() const
{
    return m_state;
}

Playback::Status Playback::status() const
{
    return m_status;
}

qint64 Playback::duration() const
{
    return m_duration;
}

bool Playback::isSeekable() const
{
    return m_seekable;
}

int Playback::volume() const
{
    return m_volume;
}

bool Playback::isMuted() const
{
    return m_muted;
}

double Playback::rate() const
{
    return m_rate;
}

void Playback::setSource(const QUrl &url)
{
    abortFetch();
    stopPipeline();
    m_queuedSeek = -1;
    m_clip.reset();
    m_missingPlugin.clear();
    m_missingNotSound = false;
    m_phase = Phase::Idle;
    m_pendingSeek = -1;
    m_source = url;
    emit sourceChanged(url);
    setState(State::Stopped);
    if (m_duration != 0)
        emit durationChanged(m_duration = 0);
    if (m_seekable)
        emit seekableChanged(m_seekable = false);
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
    m_clip = std::make_shared<Clip>();
    startFetch();
    startPipeline();
}

// The clip is fetched once and kept; the pipeline reads it from memory.
void Playback::startFetch()
{
    QNetworkReply *reply = PageFetch::get(m_network, m_source.toString(), m_limits);
    m_reply = reply;
    const std::shared_ptr<Clip> clip = m_clip;
    PageFetch *fetch = PageFetch::of(reply);
    connect(fetch, &PageFetch::bodyReceived, this, [clip, fetch] { clip->append(fetch->takeBody()); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [clip, reply] {
        // The length of an uncompressed answer is the clip's size, which
        // tells the pipeline how long the clip is before all of it is here.
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && (encoding.isEmpty() || encoding == "identity")
            && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
            clip->setSize(length.toLongLong());
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { fetched(reply); });
}

void Playback::fetched(QNetworkReply *reply)
{
    m_reply = nullptr;
    reply->deleteLater();
    PageFetch *fetch = PageFetch::of(reply);
    const FetchFailure failure = fetch->finish();
    if (failure.failed()) {
        fail(errorOf(failure), failure.detail);
        return;
    }
    m_clip->append(fetch->takeBody());
    m_clip->complete();
    if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
        readDuration(); // now that its size is known
}

void Playback::abortFetch()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    PageFetch::of(m_reply)->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
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
bool Playback::startPipeline()
{
    if (!applyAudioSink())
        return false;
    g_object_set(m_pipeline, "uri", "appsrc://", nullptr);
    m_phase = Phase::Loading;
    setStatus(Status::Loading);
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        readBus(); // the reason is on the bus already
        if (m_phase != Phase::Failed)
            fail(Error::Other, QStringLiteral("the pipeline did not start"));
        return false;
    }
    return true;
}

// Going down to READY returns once the pipeline's threads have stopped;
// what the old clip posted is dropped from the bus.
void Playback::stopPipeline()
{
    if (m_pipeline && m_phase != Phase::Idle && m_phase != Phase::Failed) {
        gst_element_set_state(m_pipeline, GST_STATE_READY);
        GstBus *bus = gst_element_get_bus(m_pipeline);
        gst_bus_set_flushing(bus, TRUE);
        gst_bus_set_flushing(bus, FALSE);
        gst_object_unref(bus);
    }
    if (m_clip)
        m_clip->detach();
}

void Playback::sourceSetup(GstElement *, GstElement *source, Playback *self)
{
    // Called while the GUI thread starts the pipeline.
    if (GST_IS_APP_SRC(source) && self->m_clip)
        self->m_clip->attach(GST_APP_SRC(source));
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

void Playback::handle(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        prerolled();
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
            m_pipelineState = now;
            if (now == GST_STATE_PLAYING && m_status == Status::Loaded)
                setStatus(Status::Buffered);
        }
        break;
    case GST_MESSAGE_EOS:
        ended();
        break;
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message)) {
            gchar *description = gst_missing_plugin_message_get_description(message);
            m_missingPlugin = fromUtf8(description);
            g_free(description);
            // A decoder for something that is not sound (a web page, say)
            // is missing only because the server sent no clip.
            const GValue *detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
            const GstCaps *caps = detail && GST_VALUE_HOLDS_CAPS(detail) ? gst_value_get_caps(detail) : nullptr;
            m_missingNotSound = caps && gst_caps_get_size(caps) > 0
                && !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
        }
        break;
    case GST_MESSAGE_ERROR: {
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        Error kind = errorOf(error);
        QString text = fromUtf8(error->message);
        g_clear_error(&error);
        // A sink that cannot reach a sound device is a missing component.
        if (within(GST_MESSAGE_SRC(message), audioSink()))
            kind = Error::ServiceMissing;
        else if (kind == Error::ServiceMissing && m_missingNotSound)
            kind = Error::Resource;
        if (!m_missingPlugin.isEmpty())
            text += QStringLiteral(" (%1)").arg(m_missingPlugin);
        fail(kind, text);
        break;
    }
    default:
        break;
    }
}

void Playback::prerolled()
{
    if (m_phase == Phase::Loading) {
        m_phase = Phase::Ready;
        if (!hasRealSink()) {
            fail(Error::ServiceMissing, QStringLiteral("no usable audio sink (autoaudiosink found none)"));
            return;
        }
        readDuration();
        readSeekable();
        setStatus(Status::Loaded);
        // The speed is re-applied to every clip: a seek carries it.
        const qint64 start = qMax<qint64>(0, m_pendingSeek);
        m_pendingSeek = -1;
        if ((start > 0 || m_rate != 1.0) && seek(start))
            return; // plays once that seek has prerolled
    } else if (m_phase == Phase::Seeking) {
        m_phase = Phase::Ready;
        const qint64 next = std::exchange(m_queuedSeek, -1);
        if (next >= 0 && seek(next))
            return;
    } else {
        return;
    }
    if (m_state == State::Playing)
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

void Playback::ended()
{
    if (m_phase != Phase::Ready && m_phase != Phase::Seeking)
        return;
    m_queuedSeek = -1;
    stopPipeline();
    m_phase = Phase::Idle;
    setStatus(Status::EndOfMedia);
    setState(State::Stopped);
    setPositionShown(0);
}

void Playback::fail(Error error, const QString &text)
{
    abortFetch();
    stopPipeline();
    m_queuedSeek = -1;
    m_phase = Phase::Failed;
    m_pendingSeek = -1;
    emit errorOccurred(error, text);
    setStatus(Status::Invalid);
    setState(State::Stopped);
}

// Flushing and accurate, from the given point at the current rate: a seek
// without the rate would set it back to 1x, and scaletempo takes a new rate
// only from the segment that such a seek starts.
bool Playback::seek(qint64 ms)
{
    if (m_phase == Phase::Seeking) {
        // Overlapping flushing seeks may end at the older one: the newest
        // waits for the one under way.
        m_queuedSeek = ms;
        m_seekTarget = ms;
        setPositionShown(ms);
        return true;
    }
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(m_pipeline, m_rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, gint64(ms) * GST_MSECOND,
                          GST_SEEK_TYPE_NONE, gint64(GST_CLOCK_TIME_NONE)))
        return false;
    m_phase = Phase::Seeking;
    m_seekTarget = ms;
    setPositionShown(ms);
    return true;
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
    if (bool(seekable) != m_seekable)
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

void Playback::tick()
{
    if (m_phase != Phase::Ready)
        return;
    setPositionShown(position());
    // Waiting for the voice server where the clip has not arrived yet.
    const bool starved = m_clip && m_clip->starved();
    if (starved && m_status != Status::Buffering)
        setStatus(Status::Buffering);
    else if (!starved && m_status == Status::Buffering)
        setStatus(Status::Buffered);
}

void Playback::play()
{
    if (m_source.isEmpty())
        return;
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
    setState(State::Paused);
    if (m_phase == Phase::Idle)
        startPipeline();
    else if (m_phase == Phase::Ready || m_phase == Phase::Seeking)
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
}

void Playback::stop()
{
    if (m_phase != Phase::Failed) {
        stopPipeline();
        m_phase = Phase::Idle;
        if (m_status != Status::NoMedia && m_status != Status::EndOfMedia)
            setStatus(Status::Loaded);
    }
    m_pendingSeek = -1;
    m_queuedSeek = -1;
    setState(State::Stopped);
    setPositionShown(0);
}

qint64 Playback::position() const
{
    if (m_pendingSeek >= 0)
        return m_pendingSeek;
    if (m_phase == Phase::Seeking)
        return m_seekTarget;
    gint64 ns = -1;
    if (m_phase == Phase::Ready && gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &ns) && ns >= 0)
        return toMs(ns);
    return m_position;
}

void Playback::setPosition(qint64 ms)
{
    ms = qMax<qint64>(0, ms);
    if (m_duration > 0)
        ms = qMin(ms, m_duration);
    if (m_phase == Phase::Ready || m_phase == Phase::Seeking) {
        seek(ms);
    } else if (!m_source.isEmpty() && m_phase != Phase::Failed) {
        m_pendingSeek = ms; // from there once prerolled
        setPositionShown(ms);
    }
}

void Playback::setVolume(int percent)
{
    percent = qBound(0, percent, 100);
    if (percent == m_volume)
        return;
    m_volume = percent;
    if (m_pipeline)
        gst_stream_volume_set_volume(GST_STREAM_VOLUME(m_pipeline), GST_STREAM_VOLUME_FORMAT_CUBIC, percent / 100.0);
    emit volumeChanged(percent);
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

void Playback::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    if (state == State::Playing)
        m_ticker->start();
    else
        m_ticker->stop();
    emit stateChanged(state);
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
