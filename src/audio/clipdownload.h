#ifndef CLIPDOWNLOAD_H
#define CLIPDOWNLOAD_H

#include "clipmemory.h"
#include "pagefetch.h"
#include "playback.h"

#include <QObject>
#include <QUrl>
#include <QVector>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The download of one clip into memory, bounded like a page fetch. What
// arrives is readable at once. A download that breaks off before the
// clip's end (the connection closed or reset, a network or TLS error,
// silence, a 5xx, 408 or 429) asks again, from the byte it has, as Media3
// and GStreamer's souphttpsrc do: after a wait that grows, until five tries
// in a row bring nothing. Only what continues the bytes held is spliced on
// (AntennaPod's and gPodder's rule): a 206 from that byte of the same
// clip, or a 200 of the same clip read past what is held. Whatever
// arrived stays readable when the download ends short, and it says why, as
// a clip error.
class ClipDownload : public QObject
{
    Q_OBJECT

public:
    using Retries = ClipDownloadRetries;

    ClipDownload(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits,
                 const Retries &retries = Retries(), QObject *parent = nullptr);
    ~ClipDownload() override;

    // A clip may take as long as it needs, as long as its server keeps
    // sending; all of it that is kept is bounded.
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
    // The try under way or waited for since the download broke, counted
    // from 1; 0 while none is.
    int reconnecting() const { return m_attempt; }
    // The wait before the try awaited, in ms.
    int waitMs() const { return m_waitMs; }

    // No more tries: the download ends with what it has. A stop does this.
    void stopRetrying();
    // Stops the download and frees the bytes; readers get nothing more.
    void release();

signals:
    // The clip's size in bytes is known, before all of it is here.
    void sizeKnown();
    void finished();
    void reconnectingChanged();

private:
    void request();
    void readHead();
    void take(const QByteArray &bytes);
    void tryEnded();
    bool mayRetry(const FetchFailure &failure) const;
    void retryAfter(int ms);
    void refuse(const FetchFailure &failure);
    void refuseChanged(const QString &detail);
    void end(const FetchFailure &failure);
    void abortFetch();
    void setAttempt(int attempt);

    QNetworkAccessManager *m_network;
    QUrl m_url;
    FetchLimits m_limits;
    Retries m_retries;
    ClipMemory m_memory;
    QNetworkReply *m_reply = nullptr;
    QTimer *m_retry;
    FetchFailure m_failure;
    bool m_finished = false;
    bool m_noRetries = false;
    bool m_changed = false; // what the server has now is another clip

    // What the first whole answer said of the clip.
    bool m_learned = false;
    qint64 m_total = -1;     // bytes; -1: not said
    QByteArray m_etag;       // a strong one, or none
    QByteArray m_lastModified;
    bool m_encoded = false;  // compressed, so its bytes are not the clip's offsets
    bool m_confirming = false; // asking whether more follows an answer without a length
    bool m_confirmed = false;

    // The try under way.
    bool m_headRead = false;
    bool m_isRetry = false;
    qint64 m_skip = 0;       // bytes of its answer already held
    bool m_brought = false;  // new bytes came
    int m_fruitless = 0;     // tries in a row that brought nothing
    int m_attempt = 0;
    int m_sinceBytes = 0;    // tries asked for since bytes last came
    int m_waitMs = 0;
    FetchFailure m_refusal;  // of what the try's answer is
};

#endif // CLIPDOWNLOAD_H
