#ifndef CLIPMEMORY_H
#define CLIPMEMORY_H

#include <QByteArray>
#include <QtGlobal>

#include <memory>

typedef struct _GstAppSrc GstAppSrc;

// The bytes of one clip, kept in memory (never on disk) while it is the
// current clip, and read from there by GStreamer pipelines through appsrc
// elements. Each reader goes on from wherever its pipeline seeks to and
// waits where nothing has arrived yet; once the clip has ended, a reader at
// the end of what arrived gets an end-of-stream. The bytes are freed by
// release() or with this object, whatever the pipelines still hold.
class ClipMemory
{
public:
    ClipMemory();
    ~ClipMemory();
    ClipMemory(const ClipMemory &) = delete;
    ClipMemory &operator=(const ClipMemory &) = delete;

    // Feeds `source` from the start of the clip on; called while its
    // pipeline starts, from any thread.
    void attach(GstAppSrc *source);
    // The reader of `source` waits for bytes that have not arrived.
    bool isWaiting(const GstAppSrc *source) const;

    // From the download, on the GUI thread.
    void append(const QByteArray &bytes);
    void setSize(qint64 bytes);
    void end(); // no more bytes will come

    // The bytes held from `offset` on begin with `bytes`.
    bool holds(qint64 offset, const QByteArray &bytes) const;

    qint64 size() const; // in bytes; -1 while unknown
    qint64 received() const;
    bool isEnded() const;

    // Frees the bytes; readers get nothing more.
    void release();

private:
    class Data;
    struct Reader;

    std::shared_ptr<Data> m_data;
};

#endif // CLIPMEMORY_H
