#include "testserver.h"

#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

QByteArray readResource(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

const char kBufferProperty[] = "requestBuffer";

// Writes `body` as the socket drains, keeping about 256 KiB waiting, so
// that a big answer does not hold up this thread; with `repeat` the body
// starts over at its end and the answer never ends, otherwise the
// connection is closed after it.
void feed(QTcpSocket *socket, const QByteArray &body, bool repeat)
{
    auto sent = std::make_shared<int>(0);
    auto more = [socket, body, repeat, sent] {
        auto *tls = qobject_cast<QSslSocket *>(socket);
        // A TLS socket encrypts what it is given at once: both counts matter.
        while (socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0) < 256 * 1024) {
            if (*sent == body.size()) {
                if (!repeat) {
                    socket->disconnectFromHost();
                    return;
                }
                *sent = 0;
            }
            const QByteArray piece = body.mid(*sent, 64 * 1024);
            socket->write(piece);
            *sent += piece.size();
        }
    };
    QObject::connect(socket, &QIODevice::bytesWritten, socket, more);
    if (auto *tls = qobject_cast<QSslSocket *>(socket))
        QObject::connect(tls, &QSslSocket::encryptedBytesWritten, tls, more);
    more();
}

} // namespace

TestServer::TestServer(Scheme scheme, QObject *parent, Certificate certificate)
    : QTcpServer(parent)
    , m_scheme(scheme)
    , m_certificate(certificate)
{
    Q_INIT_RESOURCE(testsupport);
}

TestServer::~TestServer()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(this, [this] {
        close();
        qDeleteAll(findChildren<QTcpSocket *>());
    }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool TestServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

bool TestServer::startInThread()
{
    m_thread = new QThread;
    m_thread->start();
    moveToThread(m_thread);
    bool listening = false;
    QMetaObject::invokeMethod(this, [&] { listening = start(); }, Qt::BlockingQueuedConnection);
    return listening;
}

QString TestServer::authority() const
{
    return QStringLiteral("127.0.0.1:%1").arg(serverPort());
}

QString TestServer::baseUrl() const
{
    return (m_scheme == Scheme::Https ? QStringLiteral("https://") : QStringLiteral("http://")) + authority();
}

void TestServer::setResponse(const QString &pathAndQuery, const Response &response)
{
    setResponses(pathAndQuery, {response});
}

void TestServer::setResponses(const QString &pathAndQuery, const QList<Response> &responses)
{
    QMutexLocker lock(&m_mutex);
    m_responses.insert(pathAndQuery, responses);
    m_answered.remove(pathAndQuery);
}

void TestServer::setFallback(const Response &response)
{
    QMutexLocker lock(&m_mutex);
    m_fallback = response;
    m_hasFallback = true;
}

QStringList TestServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

int TestServer::requestCount(const QString &pathAndQuery) const
{
    QMutexLocker lock(&m_mutex);
    return m_requests.count(pathAndQuery);
}

QByteArray TestServer::requestHeader(const QString &pathAndQuery, const QByteArray &name) const
{
    QMutexLocker lock(&m_mutex);
    for (const QByteArray &line : m_heads.value(pathAndQuery)) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

void TestServer::setPage(const QString &pathAndQuery, const QByteArray &body, const QByteArray &contentType)
{
    setResponse(pathAndQuery, ok(body, contentType));
}

void TestServer::clearResponses()
{
    QMutexLocker lock(&m_mutex);
    m_responses.clear();
    m_answered.clear();
}

TestServer::Response TestServer::ok(const QByteArray &body, const QByteArray &contentType)
{
    Response r;
    r.body = body;
    r.headers.append({"Content-Type", contentType});
    return r;
}

QSslCertificate TestServer::loopbackCertificate()
{
    Q_INIT_RESOURCE(testsupport);
    return QSslCertificate(readResource(QStringLiteral(":/tls/loopback.crt")), QSsl::Pem);
}

void TestServer::trustLoopbackCertificate()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificate(loopbackCertificate());
    QSslConfiguration::setDefaultConfiguration(config);
}

int TestServer::connections() const
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

void TestServer::incomingConnection(qintptr handle)
{
    {
        QMutexLocker lock(&m_mutex);
        ++m_connections;
    }
    QTcpSocket *socket = nullptr;
    if (m_scheme == Scheme::Https) {
        auto *ssl = new QSslSocket(this);
        if (!ssl->setSocketDescriptor(handle)) {
            delete ssl;
            return;
        }
        const QString name = m_certificate == Certificate::Loopback ? QStringLiteral("loopback")
                                                                    : QStringLiteral("untrusted");
        ssl->setLocalCertificate(QSslCertificate(readResource(QStringLiteral(":/tls/%1.crt").arg(name)), QSsl::Pem));
        ssl->setPrivateKey(QSslKey(readResource(QStringLiteral(":/tls/%1.key").arg(name)), QSsl::Rsa));
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        // A client that rejects our certificate just goes away.
        connect(ssl, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), ssl,
                [ssl] { ssl->abort(); });
        ssl->startServerEncryption();
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::errorOccurred, socket, [socket] {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
    });
}

void TestServer::readRequest(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty(kBufferProperty, buffer);
        return;
    }
    socket->setProperty(kBufferProperty, QByteArray());
    // One request per connection: later bytes are ignored.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QString path = QString::fromLatin1(requestLine.value(1));
    QByteArray range;
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("range:"))
            range = line.mid(6).trimmed();
    }
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(path);
        m_heads.insert(path, lines);
    }
    emit requestReceived(path);
    answer(socket, path, range);
}

void TestServer::answer(QTcpSocket *socket, const QString &path, const QByteArray &rangeHeader)
{
    Response response;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_responses.constFind(path);
        if (it != m_responses.constEnd() && !it->isEmpty()) {
            int &answered = m_answered[path];
            response = it->at(qMin(answered, int(it->size()) - 1));
            ++answered;
        } else if (m_hasFallback) {
            response = m_fallback;
        } else {
            response.status = 404;
            response.body = "<html><body>not found</body></html>";
        }
    }
    if (response.neverAnswer || (response.silentRanges && !rangeHeader.isEmpty()))
        return;
    if (response.dropRanges && !rangeHeader.isEmpty()) {
        socket->abort();
        return;
    }

    QPointer<QTcpSocket> guard(socket);
    auto send = [guard, response, rangeHeader] {
        if (!guard)
            return;
        if (response.raw) {
            guard->write(response.body);
            guard->disconnectFromHost();
            return;
        }
        int status = response.status;
        QByteArray body = response.body;
        QList<QPair<QByteArray, QByteArray>> headers = response.headers;
        // Byte ranges, so that a media player can seek in a clip.
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^bytes=(\\d+)-(\\d*)$")).match(QString::fromLatin1(rangeHeader));
        if (status == 200 && m.hasMatch() && !response.ignoreRanges) {
            const qint64 first = m.captured(1).toLongLong() + response.rangeShift;
            const qint64 last = m.captured(2).isEmpty() ? body.size() - 1
                                                        : qMin<qint64>(m.captured(2).toLongLong(), body.size() - 1);
            if (first < body.size() && first <= last) {
                headers.append({"Content-Range", QByteArray("bytes ") + QByteArray::number(first) + '-'
                                                     + QByteArray::number(last) + '/'
                                                     + QByteArray::number(body.size())});
                body = body.mid(int(first), int(last - first + 1));
                status = 206;
            }
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
        for (const auto &header : headers)
            head += header.first + ": " + header.second + "\r\n";
        const bool unending = response.endless || response.dripMs > 0;
        if (!unending && !response.ignoreRanges)
            head += "Accept-Ranges: bytes\r\n";
        if (response.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!unending && !response.noLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        guard->write(head + "Connection: close\r\n\r\n");
        if (response.chunked) {
            QByteArray chunks;
            for (int at = 0; at < body.size(); at += 4096) {
                const QByteArray chunk = body.mid(at, 4096);
                chunks += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
            }
            if (response.cutAfter < 0)
                chunks += "0\r\n\r\n";
            else // cut within a chunk, past its size line
                chunks = chunks.left(response.cutAfter + response.cutAfter / 4096 * 8 + 6);
            guard->write(chunks);
            guard->flush();
            if (response.cutAfter < 0)
                guard->disconnectFromHost();
            else
                guard->abort();
            return;
        }
        if (response.cutAfter >= 0) {
            guard->write(body.left(response.cutAfter));
            guard->flush();
            guard->abort();
            return;
        }
        if (response.dripMs > 0) {
            auto *drip = new QTimer(guard.data());
            connect(drip, &QTimer::timeout, guard.data(),
                    [socket = guard.data(), body = body.isEmpty() ? QByteArray("x") : body, sent = 0]() mutable {
                socket->write(body.mid(sent++ % body.size(), 1));
            });
            drip->start(response.dripMs);
            return;
        }
        if (response.closeMidBody) {
            guard->write(body.left(body.size() / 2));
            guard->flush();
            guard->abort();
            return;
        }
        if (response.pauseMs > 0) {
            guard->write(body.left(response.pauseAfter));
            QTimer::singleShot(response.pauseMs, guard.data(), [guard, rest = body.mid(response.pauseAfter)] {
                if (guard)
                    feed(guard, rest, false);
            });
            return;
        }
        feed(guard, body, response.endless && !body.isEmpty());
    };
    if (response.delayMs > 0)
        QTimer::singleShot(response.delayMs, socket, send);
    else
        send();
}
