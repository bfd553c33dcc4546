#include "media/clipsource.h"

#include <QMutexLocker>
#include <QNetworkReply>
#include <QRecursiveMutex>
#include <QUrl>

#include <algorithm>
#include <vector>

#include <gst/app/gstappsrc.h>

namespace {

constexpr guint kChunkBytes = 64 * 1024; // handed to a pipeline at a time
// The voice host serves clips to the article pages that carry them.
const QByteArray kReferer("https://mp.weixin.qq.com/");

} // namespace

// What the readers share with the fetch. The fetch adds to it on the GUI
// thread; readers take from it on their pipelines' streaming threads. It
// lives as long as any appsrc still has a reader's callbacks, but its
// bytes only as long as the clip is wanted. Recursive, because appsrc may
// call back while a buffer is pushed.
class ClipSource::Data
{
public:
    mutable QRecursiveMutex mutex; // guards all below
    QByteArray bytes;
    qint64 size = -1;
    bool ended = false;
    std::vector<Reader *> readers;

    void feed(Reader *reader);
    void feedAll()
    {
        for (Reader *reader : readers)
            feed(reader);
    }
    void setSize(qint64 bytes);
};

// One appsrc reading the clip. Owned by the appsrc's callbacks: it goes
// when they do.
struct ClipSource::Reader
{
    std::shared_ptr<Data> data;
    GstAppSrc *source; // not owned: it holds us
    qint64 offset = 0;
    bool wanted = false;  // asked and not yet served
    bool waiting = false; // asked where nothing has arrived

    static Reader *of(gpointer data) { return static_cast<Reader *>(data); }

    static void needData(GstAppSrc *, guint, gpointer data)
    {
        Reader *reader = of(data);
        QMutexLocker lock(&reader->data->mutex);
        reader->wanted = true;
        reader->data->feed(reader);
    }

    static void enoughData(GstAppSrc *, gpointer data)
    {
        Reader *reader = of(data);
        QMutexLocker lock(&reader->data->mutex);
        reader->wanted = false;
    }

    // appsrc flushes what it holds after this, so nothing is handed over
    // until it asks again.
    static gboolean seekData(GstAppSrc *, guint64 offset, gpointer data)
    {
        Reader *reader = of(data);
        QMutexLocker lock(&reader->data->mutex);
        if (reader->data->size >= 0 && qint64(offset) > reader->data->size)
            return FALSE;
        reader->offset = qint64(offset);
        reader->wanted = false;
        return TRUE;
    }

    static void destroy(gpointer data)
    {
        Reader *reader = of(data);
        {
            QMutexLocker lock(&reader->data->mutex);
            auto &readers = reader->data->readers;
            readers.erase(std::remove(readers.begin(), readers.end(), reader), readers.end());
        }
        delete reader;
    }
};

// With the mutex held.
void ClipSource::Data::feed(Reader *reader)
{
    if (!reader->wanted)
        return;
    const qint64 available = bytes.size() - reader->offset;
    if (available > 0) {
        const qint64 n = qMin<qint64>(available, kChunkBytes);
        GstBuffer *buffer = gst_buffer_new_memdup(bytes.constData() + reader->offset, gsize(n));
        GST_BUFFER_OFFSET(buffer) = guint64(reader->offset);
        reader->offset += n;
        reader->wanted = false;
        reader->waiting = false;
        gst_app_src_push_buffer(reader->source, buffer);
    } else if (ended) {
        reader->wanted = false;
        reader->waiting = false;
        gst_app_src_end_of_stream(reader->source);
    } else {
        reader->waiting = true;
    }
}

void ClipSource::Data::setSize(qint64 bytes)
{
    size = bytes;
    for (Reader *reader : readers)
        gst_app_src_set_size(reader->source, bytes);
}

ClipSource::ClipSource(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits, QObject *parent)
    : QObject(parent)
    , m_data(std::make_shared<Data>())
    , m_reply(PageFetch::get(network, url.toString(), limits, kReferer))
{
    PageFetch *fetch = PageFetch::of(m_reply);
    connect(fetch, &PageFetch::bodyReceived, this, [this, fetch] {
        const QByteArray more = fetch->takeBody();
        QMutexLocker lock(&m_data->mutex);
        m_data->bytes += more;
        m_data->feedAll();
    });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ClipSource::readHead);
    connect(m_reply, &QNetworkReply::finished, this, &ClipSource::fetched);
}

ClipSource::~ClipSource()
{
    release();
}

void ClipSource::attach(GstAppSrc *source)
{
    auto *reader = new Reader{m_data, source};
    QMutexLocker lock(&m_data->mutex);
    m_data->readers.push_back(reader);
    g_object_set(source, "stream-type", GST_APP_STREAM_TYPE_SEEKABLE, "format", GST_FORMAT_BYTES, "size",
                 gint64(m_data->size), nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = &Reader::needData;
    callbacks.enough_data = &Reader::enoughData;
    callbacks.seek_data = &Reader::seekData;
    gst_app_src_set_callbacks(source, &callbacks, reader, &Reader::destroy);
}

bool ClipSource::isWaiting(const GstAppSrc *source) const
{
    QMutexLocker lock(&m_data->mutex);
    const auto &readers = m_data->readers;
    return std::any_of(readers.cbegin(), readers.cend(),
                       [source](const Reader *reader) { return reader->source == source && reader->waiting; });
}

qint64 ClipSource::size() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->size;
}

qint64 ClipSource::received() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->bytes.size();
}

bool ClipSource::isFinished() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->ended;
}

// The length of an uncompressed answer is the clip's size, which tells a
// pipeline how long the clip is before all of it is here.
void ClipSource::readHead()
{
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity")
        || m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    {
        QMutexLocker lock(&m_data->mutex);
        m_data->setSize(length.toLongLong());
    }
    emit sizeKnown();
}

// Whatever arrived stays readable, also when the download broke: what was
// never going to be a clip (an error status, too large) brings no bytes.
void ClipSource::fetched()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    PageFetch *fetch = PageFetch::of(reply);
    m_failure = fetch->finish();
    const QByteArray rest = m_failure.failed() ? QByteArray() : fetch->takeBody();
    bool sizeChanged = false;
    {
        QMutexLocker lock(&m_data->mutex);
        m_data->bytes += rest;
        m_data->ended = true;
        if (!m_failure.failed() || m_data->size < 0) {
            sizeChanged = m_data->size != m_data->bytes.size();
            m_data->setSize(m_data->bytes.size());
        }
        m_data->feedAll();
    }
    if (sizeChanged)
        emit sizeKnown();
    emit finished();
}

void ClipSource::abortFetch()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    PageFetch::of(m_reply)->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void ClipSource::release()
{
    abortFetch();
    QMutexLocker lock(&m_data->mutex);
    m_data->bytes = QByteArray();
    m_data->ended = true;
    for (Reader *reader : m_data->readers)
        reader->wanted = false;
}
