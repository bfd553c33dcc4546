#ifndef CLIPDOWNLOAD_H
#define CLIPDOWNLOAD_H

#include "clipmemory.h"
#include "pagefetch.h"
#include "playback.h"

#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// The download of one clip into memory, bounded like a page fetch. What
// arrives is readable at once; whatever arrived stays readable when the
// download breaks off. It says why it ended short, as a clip error.
class ClipDownload : public QObject
{
    Q_OBJECT

public:
    ClipDownload(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits,
                 QObject *parent = nullptr);
    ~ClipDownload() override;

    // A clip may take as long as it needs, as long as its server keeps
    // sending; its size is bounded.
    static FetchLimits defaultLimits();

    ClipMemory &memory() { return m_memory; }
    qint64 size() const { return m_memory.size(); } // in bytes; -1 while unknown
    qint64 received() const { return m_memory.received(); }
    bool isFinished() const { return m_finished; } // no more bytes will come
    // Once finished: why the download ended before the clip did, if it did.
    FetchFailure failure() const { return m_failure; }
    bool broke() const { return m_finished && m_failure.failed(); }
    // A broken download that leaves nothing worth playing: too large, or
    // nothing arrived.
    bool leavesNothing() const;
    // The failure as the player words it.
    Playback::Error error() const;

    // Stops the download and frees the bytes; readers get nothing more.
    void release();

signals:
    // The clip's size in bytes is known, before all of it is here.
    void sizeKnown();
    void finished();

private:
    void readHead();
    void fetched();
    void abortFetch();

    ClipMemory m_memory;
    QNetworkReply *m_reply = nullptr;
    FetchFailure m_failure;
    bool m_finished = false;
};

#endif // CLIPDOWNLOAD_H
