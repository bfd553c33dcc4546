#ifndef CLIPSOURCE_H
#define CLIPSOURCE_H

#include "pagefetch.h"

#include <QObject>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

typedef struct _GstAppSrc GstAppSrc;

// One clip, fetched once into memory, bounded like a page fetch, and read
// from there by GStreamer pipelines through appsrc elements. Each reader
// goes on from wherever its pipeline seeks to and waits where nothing has
// arrived yet; once the download has ended, for whatever reason, a reader
// at the end of what arrived gets an end-of-stream. The bytes are freed
// with this object (or by release()), whatever the pipelines still hold.
class ClipSource : public QObject
{
    Q_OBJECT

public:
    ClipSource(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits,
               QObject *parent = nullptr);
    ~ClipSource() override;

    // Feeds `source` from the start of the clip on; called while its
    // pipeline starts, from any thread.
    void attach(GstAppSrc *source);
    // The reader of `source` waits for bytes that have not arrived.
    bool isWaiting(const GstAppSrc *source) const;

    qint64 size() const; // in bytes; -1 while unknown
    qint64 received() const;
    bool isFinished() const; // no more bytes will come
    // Once finished: why the download ended before the clip did, if it did.
    FetchFailure failure() const { return m_failure; }

    // Stops the download and frees the bytes; readers get nothing more.
    void release();

signals:
    // The clip's size in bytes is known, before all of it is here.
    void sizeKnown();
    void finished();

private:
    class Data;
    struct Reader;

    void readHead();
    void fetched();
    void abortFetch();

    std::shared_ptr<Data> m_data;
    QNetworkReply *m_reply = nullptr;
    FetchFailure m_failure;
};

#endif // CLIPSOURCE_H
