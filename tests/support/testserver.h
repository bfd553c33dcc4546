#ifndef TESTSERVER_H
#define TESTSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QStringList>
#include <QTcpServer>

class QSslCertificate;
class QTcpSocket;
class QThread;

// A small HTTP/1.1 server on 127.0.0.1 for tests and the offline demo.
// With TLS it serves https using a certificate for 127.0.0.1 that only
// processes calling trustLoopbackCertificate() accept. Each answer is set
// by path (with query); unknown paths get 404. Connections are closed after
// each answer.
class TestServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Scheme { Http, Https };
    enum class Certificate { Loopback, Untrusted };

    struct Response
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0;           // wait this long before answering
        bool neverAnswer = false;  // read the request, then stay silent
        bool closeMidBody = false; // announce the whole body, send half, close
        bool raw = false;          // send `body` as the whole answer, nothing added
        bool endless = false;      // no length; `body` again and again, as fast as it is taken
        int dripMs = 0;            // no length; one byte of `body` every dripMs, without end
        bool ignoreRanges = false; // the whole body for every request, no Accept-Ranges
        bool noLength = false;     // no Content-Length: the body ends when the connection does
        int pauseMs = 0;           // after the head and pauseAfter bytes of the body, wait this long
        int pauseAfter = 0;
        int cutAfter = -1;         // send the head and this many bytes of the body, then drop the connection
        bool chunked = false;      // Transfer-Encoding: chunked, in chunks of 4 KiB (with cutAfter: cut mid-chunk)
        qint64 rangeShift = 0;     // answer a range from this many bytes further on than was asked
        bool dropRanges = false;   // a request for a range: the connection is gone
        bool silentRanges = false; // a request for a range: no answer
    };

    explicit TestServer(Scheme scheme, QObject *parent = nullptr,
                        Certificate certificate = Certificate::Loopback);
    ~TestServer() override;

    bool start(); // listens on 127.0.0.1, on a free port
    // The same, but serving from a thread of its own: a client that blocks
    // this thread while it waits for an answer (Qt 6's media player does
    // when it opens a clip) still gets one.
    bool startInThread();
    QString baseUrl() const; // "https://127.0.0.1:PORT" (or http)
    QString authority() const; // "127.0.0.1:PORT"

    void setResponse(const QString &pathAndQuery, const Response &response);
    // The answers to the path's requests in turn, the last one again and
    // again after the others.
    void setResponses(const QString &pathAndQuery, const QList<Response> &responses);
    void setPage(const QString &pathAndQuery, const QByteArray &body,
                 const QByteArray &contentType = "text/html; charset=utf-8");
    void clearResponses();
    // The answer for every path that has none of its own (default: 404).
    void setFallback(const Response &response);

    QStringList requests() const;
    int requestCount(const QString &pathAndQuery) const;
    // Connections made to the server, requests or not (a client that does
    // not trust it goes away before asking).
    int connections() const;
    // A header of the last request for this path, as it was sent.
    QByteArray requestHeader(const QString &pathAndQuery, const QByteArray &name) const;

    static QSslCertificate loopbackCertificate();
    // Makes this process's TLS clients accept the loopback certificate.
    static void trustLoopbackCertificate();

    static Response ok(const QByteArray &body, const QByteArray &contentType = "text/html; charset=utf-8");

signals:
    void requestReceived(const QString &pathAndQuery);

protected:
    void incomingConnection(qintptr handle) override;

private:
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path, const QByteArray &rangeHeader);

    Scheme m_scheme;
    Certificate m_certificate;
    QThread *m_thread = nullptr;
    mutable QMutex m_mutex; // guards what follows
    QHash<QString, QList<Response>> m_responses;
    QHash<QString, int> m_answered; // by path, of its answers in turn
    QStringList m_requests;
    QHash<QString, QList<QByteArray>> m_heads; // the last request's header lines, by path
    int m_connections = 0;
    Response m_fallback;
    bool m_hasFallback = false;
};

#endif // TESTSERVER_H
