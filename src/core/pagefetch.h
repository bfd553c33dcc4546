#ifndef PAGEFETCH_H
#define PAGEFETCH_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// How much and how long one fetch may take. A link on any page can lead to
// any server, so every fetch is bounded; tests use shorter limits.
struct FetchLimits
{
    qint64 maxBytes = 32 * 1024 * 1024; // of the body, after decompression
    int idleMs = 30 * 1000;             // no data for this long
    int totalMs = 120 * 1000;           // not finished this long after the request; 0: no such limit
};

// Why a fetch brought nothing usable: a short reason for the window, the
// detail (Qt's own error text or our limit) for the log and the tooltip,
// and the kind, for callers that word it their own way.
struct FetchFailure
{
    enum class Kind { None, TimedOut, TooLarge, HttpStatus, Network, Redirect };

    QString reason;
    QString detail;
    Kind kind = Kind::None;
    int httpStatus = 0;

    bool failed() const { return !reason.isEmpty(); }
};

// One bounded fetch (a page, or a clip): asks for the address, takes the
// body in as it arrives (inflating a compressed one itself, so that no more
// than the limit is ever inflated), aborts it when the body passes the size
// limit or the fetch outlives its deadline, and says why a finished reply
// brought nothing usable. Redirects are followed unless they lower security.
class PageFetch : public QObject
{
    Q_OBJECT

public:
    // Issues the GET; the fetch lives as a child of the reply it returns.
    // The request is aborted after limits.idleMs without data, and after
    // limits.totalMs in all. A referer, if given, is sent as a browser
    // sends it from the page that links there; other headers as given,
    // replacing the fetch's own.
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    static QNetworkReply *get(QNetworkAccessManager *manager, const QString &address, const FetchLimits &limits,
                              const QByteArray &referer = QByteArray(), const Headers &headers = {});
    static PageFetch *of(const QNetworkReply *reply);
    ~PageFetch() override;

    // Once the reply has finished: why it is not a page, if it is not.
    FetchFailure finish();
    // The body that has arrived and not been taken yet; the size limit
    // counts what was taken before too.
    QByteArray takeBody();

signals:
    // More of a good answer's body has arrived.
    void bodyReceived();

private:
    class Inflater;

    PageFetch(QNetworkAccessManager *manager, QNetworkReply *reply, const FetchLimits &limits,
              const QSet<const QNetworkReply *> &ahead);
    void drain();
    void refuse(FetchFailure::Kind kind, const QString &reason, const QString &detail);
    void refuseTooLarge();

    QNetworkReply *m_reply;
    const FetchLimits m_limits;
    QTimer *m_idle;
    QSet<const QNetworkReply *> m_ahead; // earlier fetches from the same host still running
    bool m_started = false; // body begun
    qint64 m_received = 0;
    std::unique_ptr<Inflater> m_inflater;
    QByteArray m_body;
    qint64 m_taken = 0; // of the body, by takeBody()
    FetchFailure m_refusal;
};

#endif // PAGEFETCH_H
