#include "clipmemory.h"

#include <QMutexLocker>
#include <QRecursiveMutex>

#include <algorithm>
#include <vector>

#include <gst/app/gstappsrc.h>

namespace {

constexpr guint kChunkBytes = 64 * 1024; // handed to a pipeline at a time

} // namespace

// What the readers share with the download. The download adds to it on
// the GUI thread; readers take from it on their pipelines' streaming
// threads. It lives as long as any appsrc still has a reader's callbacks,
// but its bytes only as long as the clip is wanted. Recursive, because
// appsrc may call back while a buffer is pushed.
class ClipMemory::Data
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
};

// One appsrc reading the clip. Owned by the appsrc's callbacks: it goes
// when they do.
struct ClipMemory::Reader
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
void ClipMemory::Data::feed(Reader *reader)
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

ClipMemory::ClipMemory()
    : m_data(std::make_shared<Data>())
{
}

ClipMemory::~ClipMemory()
{
    release();
}

void ClipMemory::attach(GstAppSrc *source)
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

bool ClipMemory::isWaiting(const GstAppSrc *source) const
{
    QMutexLocker lock(&m_data->mutex);
    const auto &readers = m_data->readers;
    return std::any_of(readers.cbegin(), readers.cend(),
                       [source](const Reader *reader) { return reader->source == source && reader->waiting; });
}

void ClipMemory::append(const QByteArray &bytes)
{
    QMutexLocker lock(&m_data->mutex);
    if (m_data->ended)
        return;
    m_data->bytes += bytes;
    m_data->feedAll();
}

void ClipMemory::setSize(qint64 bytes)
{
    QMutexLocker lock(&m_data->mutex);
    m_data->size = bytes;
    for (Reader *reader : m_data->readers)
        gst_app_src_set_size(reader->source, bytes);
}

void ClipMemory::end()
{
    QMutexLocker lock(&m_data->mutex);
    m_data->ended = true;
    m_data->feedAll();
}

bool ClipMemory::holds(qint64 offset, const QByteArray &bytes) const
{
    QMutexLocker lock(&m_data->mutex);
    return offset >= 0 && offset + bytes.size() <= m_data->bytes.size()
        && std::equal(bytes.cbegin(), bytes.cend(), m_data->bytes.cbegin() + offset);
}

qint64 ClipMemory::size() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->size;
}

qint64 ClipMemory::received() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->bytes.size();
}

bool ClipMemory::isEnded() const
{
    QMutexLocker lock(&m_data->mutex);
    return m_data->ended;
}

void ClipMemory::release()
{
    QMutexLocker lock(&m_data->mutex);
    m_data->bytes = QByteArray();
    m_data->ended = true;
    for (Reader *reader : m_data->readers)
        reader->wanted = false;
}
