#include "pagefetch.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

#include <zlib.h>

namespace {

// Qt holds no more than about this much of the body for us at a time.
constexpr qint64 kReadBufferBytes = 64 * 1024;

#if QT_VERSION < QT_VERSION_CHECK(6, 3, 0)
// Qt sends at most this many requests to one host at a time and queues the
// rest in order.
constexpr int kConnectionsPerHost = 6;
#endif

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

// Inflates a gzip or zlib body piece by piece. Qt would inflate whatever
// the socket holds in one go, a thousandfold for a hostile answer; here the
// output is checked against the limit every 64 KiB.
class PageFetch::Inflater
{
public:
    enum class Result { Ok, Broken, TooLarge };

    Inflater() { inflateInit2(&m_z, MAX_WBITS + 32); } // + 32: gzip or zlib header
    ~Inflater() { inflateEnd(&m_z); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool complete() const { return m_ended; }

    Result feed(const QByteArray &in, QByteArray &out, qint64 limit)
    {
        m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        m_z.avail_in = uInt(in.size());
        char buffer[64 * 1024];
        for (;;) {
            if (m_ended) { // more after the end: the next gzip member
                if (m_z.avail_in == 0)
                    return Result::Ok;
                inflateReset(&m_z);
                m_ended = false;
            }
            m_z.next_out = reinterpret_cast<Bytef *>(buffer);
            m_z.avail_out = sizeof buffer;
            int status = inflate(&m_z, Z_NO_FLUSH);
            if (status == Z_DATA_ERROR && m_z.total_out == 0 && !m_raw) {
                // Some servers send "deflate" without the zlib header.
                m_raw = true;
                inflateEnd(&m_z);
                inflateInit2(&m_z, -MAX_WBITS);
                m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
                m_z.avail_in = uInt(in.size());
                continue;
            }
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return Result::Broken;
            const int produced = int(sizeof buffer - m_z.avail_out);
            if (out.size() + produced > limit)
                return Result::TooLarge;
            out.append(buffer, produced);
            m_ended = status == Z_STREAM_END;
            if (!m_ended && m_z.avail_out != 0)
                return Result::Ok; // wants more input
        }
    }

private:
    z_stream m_z{};
    bool m_ended = false;
    bool m_raw = false;
};

QNetworkReply *PageFetch::get(QNetworkAccessManager *manager, const QString &address, const FetchLimits &limits,
                              const QByteArray &referer, const Headers &headers)
{
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    // Qt 5 follows no redirect by default, and a redirect notice taken for
    // the answer would replace what the user is looking at.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // Asking ourselves keeps Qt from inflating the body.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QSet<const QNetworkReply *> ahead; // earlier requests to the same host still running
#if QT_VERSION < QT_VERSION_CHECK(6, 3, 0)
    for (const QNetworkReply *other : manager->findChildren<QNetworkReply *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!other->isFinished() && other->url().authority() == request.url().authority())
            ahead.insert(other);
    }
#endif
    QNetworkReply *reply = manager->get(request);
    new PageFetch(manager, reply, limits, ahead);
    return reply;
}

PageFetch::PageFetch(QNetworkAccessManager *manager, QNetworkReply *reply, const FetchLimits &limits,
                     const QSet<const QNetworkReply *> &ahead)
    : QObject(reply)
    , m_reply(reply)
    , m_limits(limits)
    , m_idle(new QTimer(this))
    , m_ahead(ahead)
{
    reply->setReadBufferSize(kReadBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &PageFetch::drain);
    connect(reply, &QNetworkReply::metaDataChanged, m_idle, QOverload<>::of(&QTimer::start));

    m_idle->setSingleShot(true);
    m_idle->setInterval(limits.idleMs);
    connect(m_idle, &QTimer::timeout, this, [this] {
        refuse(FetchFailure::Kind::TimedOut, tr("等待超时"), QStringLiteral("no data for %1 s").arg(seconds(m_limits.idleMs)));
    });
    // A request that waits in Qt's queue has not been sent yet, so its
    // silence counts from when it leaves the queue.
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    Q_UNUSED(manager)
    connect(reply, &QNetworkReply::socketStartedConnecting, m_idle, QOverload<>::of(&QTimer::start));
    connect(reply, &QNetworkReply::requestSent, m_idle, QOverload<>::of(&QTimer::start));
#else
    // Qt 5 does not say when that is; it sends the queued requests in order
    // as earlier ones to the same host end.
    if (m_ahead.size() < kConnectionsPerHost)
        m_idle->start();
    connect(manager, &QNetworkAccessManager::finished, this, [this](const QNetworkReply *other) {
        if (m_ahead.remove(other) && m_ahead.size() == kConnectionsPerHost - 1)
            m_idle->start();
    });
#endif

    if (limits.totalMs > 0) {
        QTimer::singleShot(limits.totalMs, this, [this] {
            refuse(FetchFailure::Kind::TimedOut, tr("等待超时"),
                   QStringLiteral("not finished after %1 s").arg(seconds(m_limits.totalMs)));
        });
    }
}

PageFetch::~PageFetch() = default;

PageFetch *PageFetch::of(const QNetworkReply *reply)
{
    return reply->findChild<PageFetch *>(QString(), Qt::FindDirectChildrenOnly);
}

void PageFetch::drain()
{
    if (m_refusal.failed() || !m_reply->isOpen())
        return;
    m_idle->start();
    const QByteArray chunk = m_reply->readAll();
    if (httpStatus(m_reply) >= 300)
        return; // not a page; nobody reads it

    if (!m_started) {
        m_started = true;
        const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
        if (encoding == "gzip" || encoding == "x-gzip" || encoding == "deflate") {
            m_inflater = std::make_unique<Inflater>();
        } else if (!encoding.isEmpty() && encoding != "identity") {
            refuse(FetchFailure::Kind::Network, tr("服务器应答无效"),
                   QStringLiteral("unknown content encoding ") + QString::fromLatin1(encoding));
            return;
        }
    }
    m_received += chunk.size();
    const qint64 room = m_limits.maxBytes - m_taken; // for the body not taken yet
    const int before = m_body.size();
    if (m_received > m_limits.maxBytes) {
        refuseTooLarge();
    } else if (m_inflater) {
        switch (m_inflater->feed(chunk, m_body, room)) {
        case Inflater::Result::Ok:
            break;
        case Inflater::Result::TooLarge:
            refuseTooLarge();
            break;
        case Inflater::Result::Broken:
            refuse(FetchFailure::Kind::Network, tr("服务器应答无效"), QStringLiteral("broken compressed body"));
            break;
        }
    } else if (m_body.size() + chunk.size() > room) {
        refuseTooLarge();
    } else {
        m_body += chunk;
    }
    if (!m_refusal.failed() && m_body.size() > before)
        emit bodyReceived();
}

void PageFetch::refuseTooLarge()
{
    refuse(FetchFailure::Kind::TooLarge, tr("页面过大"), QStringLiteral("larger than %1 bytes").arg(m_limits.maxBytes));
}

void PageFetch::refuse(FetchFailure::Kind kind, const QString &reason, const QString &detail)
{
    if (m_refusal.failed())
        return;
    m_refusal = {reason, detail, kind};
    m_body.clear();
    m_body.squeeze();
    m_reply->abort(); // finishes the reply at once, unless it has finished already
}

FetchFailure PageFetch::finish()
{
    using Kind = FetchFailure::Kind;
    drain();
    if (m_refusal.failed())
        return m_refusal;

    const int status = httpStatus(m_reply);
    const QString text = m_reply->errorString();
    switch (m_reply->error()) {
    case QNetworkReply::NoError:
        if (status >= 300 && status < 400)
            return {tr("重定向被拒绝"), QStringLiteral("redirect (HTTP %1) not followed").arg(status), Kind::Redirect, status};
        if (m_inflater && !m_inflater->complete())
            return {tr("服务器应答无效"), QStringLiteral("compressed body cut short"), Kind::Network};
        return {};
    case QNetworkReply::TimeoutError:
        return {tr("等待超时"), text, Kind::TimedOut};
    case QNetworkReply::HostNotFoundError:
        return {tr("找不到服务器"), text, Kind::Network};
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return {tr("无法连接服务器"), text, Kind::Network};
    case QNetworkReply::RemoteHostClosedError:
        return {tr("连接中断"), text, Kind::Network};
    case QNetworkReply::SslHandshakeFailedError:
        return {tr("证书不受信任"), text, Kind::Network};
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::TooManyRedirectsError:
        return {tr("重定向被拒绝"), text, Kind::Redirect};
    case QNetworkReply::ProtocolFailure:
        return {tr("服务器应答无效"), text, Kind::Network};
    default:
        if (status >= 400)
            return {tr("HTTP 状态 %1").arg(status), text, Kind::HttpStatus, status};
        return {tr("网络错误"), text, Kind::Network};
    }
}

QByteArray PageFetch::takeBody()
{
    m_taken += m_body.size();
    return std::exchange(m_body, QByteArray());
}
