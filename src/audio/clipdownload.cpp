#include "clipdownload.h"

#include <QNetworkReply>
#include <QUrl>

#include <utility>

namespace {

// The voice host serves clips to the article pages that carry them.
const QByteArray kReferer("https://mp.weixin.qq.com/");

} // namespace

ClipDownload::ClipDownload(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits,
                           QObject *parent)
    : QObject(parent)
    , m_reply(PageFetch::get(network, url.toString(), limits, kReferer))
{
    PageFetch *fetch = PageFetch::of(m_reply);
    connect(fetch, &PageFetch::bodyReceived, this, [this, fetch] { m_memory.append(fetch->takeBody()); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ClipDownload::readHead);
    connect(m_reply, &QNetworkReply::finished, this, &ClipDownload::fetched);
}

ClipDownload::~ClipDownload()
{
    release();
}

FetchLimits ClipDownload::defaultLimits()
{
    return {64 * 1024 * 1024, 30 * 1000, 0};
}

bool ClipDownload::leavesNothing() const
{
    return broke() && (m_failure.kind == FetchFailure::Kind::TooLarge || received() == 0);
}

Playback::Error ClipDownload::error() const
{
    switch (m_failure.kind) {
    case FetchFailure::Kind::TimedOut: return Playback::Error::TimedOut;
    case FetchFailure::Kind::TooLarge: return Playback::Error::TooLarge;
    case FetchFailure::Kind::HttpStatus:
        return m_failure.httpStatus == 401 || m_failure.httpStatus == 403 ? Playback::Error::AccessDenied
                                                                           : Playback::Error::Resource;
    default: return Playback::Error::Network;
    }
}

// The length of an uncompressed answer is the clip's size, which tells a
// pipeline how long the clip is before all of it is here.
void ClipDownload::readHead()
{
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity")
        || m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;
    m_memory.setSize(length.toLongLong());
    emit sizeKnown();
}

// Whatever arrived stays readable, also when the download broke: what was
// never going to be a clip (an error status, too large) brings no bytes.
void ClipDownload::fetched()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    PageFetch *fetch = PageFetch::of(reply);
    m_failure = fetch->finish();
    const QByteArray rest = m_failure.failed() ? QByteArray() : fetch->takeBody();
    const qint64 total = m_memory.received() + rest.size();
    bool sizeChanged = false;
    if (!m_failure.failed() || m_memory.size() < 0) {
        sizeChanged = m_memory.size() != total;
        m_memory.setSize(total);
    }
    m_memory.append(rest);
    m_memory.end();
    m_finished = true;
    if (sizeChanged)
        emit sizeKnown();
    emit finished();
}

void ClipDownload::abortFetch()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    PageFetch::of(m_reply)->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void ClipDownload::release()
{
    abortFetch();
    m_memory.release();
}
