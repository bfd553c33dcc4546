#ifndef PAGEFETCH_H
#define PAGEFETCH_H

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// How much and how long one page fetch may take. A link on any page can lead
// to any server, so every fetch is bounded; tests use shorter limits.
struct FetchLimits
{
    qint64 maxBytes = 32 * 1024 * 1024; // of the body, after decompression
    int idleMs = 30 * 1000;             // no data for this long
    int totalMs = 120 * 1000;           // not finished this long after the request
};

// Why a fetch brought no page: a short reason for the window and the detail
// (Qt's own error text or our limit) for the log and the tooltip.
struct FetchFailure
{
    QString reason;
    QString detail;

    bool failed() const { return !reason.isEmpty(); }
};

// One page fetch: asks for the page, takes its body in as it arrives
// (inflating a compressed one itself, so that no more than the limit is
// ever inflated), aborts it when the body passes the size limit or the
// fetch outlives its deadline, and says why a finished reply is not a page.
class PageFetch : public QObject
{
    Q_OBJECT

public:
    // Issues the GET; the fetch lives as a child of the reply it returns.
    // The request is aborted after limits.idleMs without data, and after
    // limits.totalMs in all.
    static QNetworkReply *get(QNetworkAccessManager *manager, const QString &address, const FetchLimits &limits);
    static PageFetch *of(const QNetworkReply *reply);
    ~PageFetch() override;

    // Once the reply has finished: why it is not a page, if it is not.
    FetchFailure finish();
    QByteArray takeBody();

private:
    class Inflater;

    PageFetch(QNetworkAccessManager *manager, QNetworkReply *reply, const FetchLimits &limits,
              const QSet<const QNetworkReply *> &ahead);
    void drain();
    void refuse(const QString &reason, const QString &detail);
    void refuseTooLarge();

    QNetworkReply *m_reply;
    const FetchLimits m_limits;
    QTimer *m_idle;
    QSet<const QNetworkReply *> m_ahead; // earlier fetches from the same host still running
    bool m_started = false; // body begun
    qint64 m_received = 0;
    std::unique_ptr<Inflater> m_inflater;
    QByteArray m_body;
    FetchFailure m_refusal;
};

#endif // PAGEFETCH_H
