#include "clipdownload.h"

#include "log.h"

#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The voice host serves clips to the article pages that carry them.
const QByteArray kReferer("https://mp.weixin.qq.com/");
constexpr int kLongestRetryAfterMs = 30000; // a server's Retry-After is waited for up to this

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool isIdentity(const QNetworkReply *reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return encoding.isEmpty() || encoding == "identity";
}

// "bytes START-END/TOTAL"; TOTAL -1 for "*". False if it is not one.
bool parseContentRange(const QByteArray &value, qint64 *start, qint64 *total)
{
    static const QRegularExpression range(QStringLiteral("^bytes\\s+(\\d+)-(\\d+)/(\\d+|\\*)$"));
    const QRegularExpressionMatch m = range.match(QString::fromLatin1(value.trimmed()));
    if (!m.hasMatch())
        return false;
    *start = m.captured(1).toLongLong();
    *total = m.captured(3) == QLatin1String("*") ? -1 : m.captured(3).toLongLong();
    return true;
}

} // namespace

ClipDownload::ClipDownload(QNetworkAccessManager *network, const QUrl &url, const FetchLimits &limits,
                           const Retries &retries, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_url(url)
    , m_limits(limits)
    , m_retries(retries)
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &ClipDownload::request);
    if (m_retries.waitsMs.isEmpty())
        m_retries.waitsMs = {0};
    request();
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
    if (m_changed)
        return Playback::Error::Changed;
    switch (m_failure.kind) {
    case FetchFailure::Kind::TimedOut: return Playback::Error::TimedOut;
    case FetchFailure::Kind::TooLarge: return Playback::Error::TooLarge;
    case FetchFailure::Kind::HttpStatus:
        return m_failure.httpStatus == 401 || m_failure.httpStatus == 403 ? Playback::Error::AccessDenied
                                                                           : Playback::Error::Resource;
    default: return Playback::Error::Network;
    }
}

// A try: the first asks for the clip; a later one for what follows the
// bytes held, uncompressed, so that offsets are the clip's own, and only if
// the clip is still the one they belong to (If-Range, as Media3 sends it).
void ClipDownload::request()
{
    m_headRead = false;
    m_skip = 0;
    m_brought = false;
    m_refusal = FetchFailure();
    PageFetch::Headers headers;
    if (m_isRetry) {
        headers.append(qMakePair(QByteArray("Accept-Encoding"), QByteArray("identity")));
        const qint64 held = received();
        if (held > 0 && !m_encoded) {
            headers.append(qMakePair(QByteArray("Range"), "bytes=" + QByteArray::number(held) + '-'));
            if (!m_etag.isEmpty())
                headers.append(qMakePair(QByteArray("If-Range"), m_etag));
            else if (!m_lastModified.isEmpty())
                headers.append(qMakePair(QByteArray("If-Range"), m_lastModified));
        }
    }
    m_reply = PageFetch::get(m_network, m_url.toString(), m_limits, kReferer, headers);
    PageFetch *fetch = PageFetch::of(m_reply);
    connect(fetch, &PageFetch::bodyReceived, this, [this, fetch] { take(fetch->takeBody()); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &ClipDownload::readHead);
    connect(m_reply, &QNetworkReply::finished, this, &ClipDownload::tryEnded);
}

// The first whole answer says what the clip is: its length (which tells a
// pipeline how long the clip is before all of it is here), its ETag and
// date. A later one must continue it, or it is not spliced on.
void ClipDownload::readHead()
{
    const int status = httpStatus(m_reply);
    if (m_headRead || (status >= 300 && status < 400)) // a redirect on its way
        return;
    m_headRead = true;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray etag = m_reply->rawHeader("ETag").trimmed();
    if (status == 200 && !m_learned) { // the clip's first whole answer, perhaps after a failed try
        m_learned = true;
        m_encoded = !isIdentity(m_reply);
        if (!etag.startsWith("W/"))
            m_etag = etag; // a weak one cannot ask for a range
        m_lastModified = m_reply->rawHeader("Last-Modified").trimmed();
        if (!m_encoded && length.isValid()) {
            m_total = length.toLongLong();
            m_memory.setSize(m_total);
            emit sizeKnown();
        }
    }
    if (!m_isRetry)
        return;
    const qint64 held = received();
    const QByteArray contentRange = m_reply->rawHeader("Content-Range");
    warningLog().noquote() << QStringLiteral("clip download asked again from byte %1 (try %2): HTTP %3 %4 - %5")
                                  .arg(held)
                                  .arg(m_attempt)
                                  .arg(status)
                                  .arg(QString::fromLatin1(contentRange), m_url.toString());
    const bool sameTag = m_etag.isEmpty() || etag == m_etag;
    if (status == 206) {
        qint64 start = -1;
        qint64 total = -1;
        if (!parseContentRange(contentRange, &start, &total) || start != held || (m_total >= 0 && total != m_total)
            || !sameTag) {
            refuseChanged((QStringLiteral("asked from byte %1, answered HTTP 206 %2").arg(held).arg(QString::fromLatin1(contentRange))));
            return;
        }
        if (m_total < 0 && total >= 0) {
            m_total = total;
            m_memory.setSize(total);
            emit sizeKnown();
        }
    } else if (status == 200) {
        // The whole clip again: the same one, read past what is held.
        const bool sameLength = m_total < 0 || !length.isValid() || !isIdentity(m_reply) || length.toLongLong() == m_total;
        if (!sameLength || !sameTag) {
            refuseChanged((QStringLiteral("asked from byte %1, answered HTTP 200 for another clip").arg(held)));
            return;
        }
        m_skip = held;
    } else if (status == 416) {
        refuseChanged((QStringLiteral("asked from byte %1, answered HTTP 416").arg(held)));
    }
}

void ClipDownload::take(const QByteArray &bytes)
{
    if (m_finished || m_refusal.failed() || bytes.isEmpty())
        return;
    QByteArray rest = bytes;
    if (m_skip > 0) {
        const qint64 overlap = std::min<qint64>(m_skip, rest.size());
        if (!m_memory.holds(received() - m_skip, rest.left(int(overlap)))) {
            refuseChanged((QStringLiteral("the clip answered again differs from the bytes held")));
            return;
        }
        m_skip -= overlap;
        rest = rest.mid(int(overlap));
        if (rest.isEmpty())
            return;
    }
    // The bound counts all that is kept, over every try.
    if (received() + rest.size() > m_limits.maxBytes) {
        refuse({tr("音频过大"), QStringLiteral("larger than %1 bytes").arg(m_limits.maxBytes), FetchFailure::Kind::TooLarge});
        return;
    }
    m_memory.append(rest);
    m_brought = true;
    m_sinceBytes = 0;
    setAttempt(0); // the listener hears it go on
}

// Broken off before the end, or not: either ask again or say how it ended.
void ClipDownload::tryEnded()
{
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    PageFetch *fetch = PageFetch::of(reply);
    FetchFailure failure = fetch->finish();
    if (!failure.failed())
        take(fetch->takeBody());
    // Asked only to be sure that nothing more is to be had: unless more
    // came, what is held is the clip.
    if (m_confirming && !m_brought) {
        end({});
        return;
    }
    m_confirming = false;
    if (m_refusal.failed()) {
        end(m_refusal);
        return;
    }
    if (!failure.failed()) {
        if (m_skip > 0 || (m_total >= 0 && received() < m_total))
            failure = {tr("连接中断"), QStringLiteral("the answer ended before the clip did"), FetchFailure::Kind::Network};
    }
    if (m_isRetry && !m_headRead)
        warningLog().noquote() << QStringLiteral("clip download asked again from byte %1 (try %2): %3 - %4")
                                      .arg(received())
                                      .arg(m_attempt)
                                      .arg(failure.failed() ? failure.detail : QStringLiteral("no answer"), m_url.toString());
    if (!failure.failed()) {
        // An answer without a length may end early without a word (Qt takes
        // a chunked answer cut short for a whole one): the server is asked
        // once more for what would follow.
        if (m_total < 0 && !m_encoded && received() > 0 && !m_noRetries && !std::exchange(m_confirmed, true)) {
            m_confirming = true;
            m_isRetry = true;
            request();
            return;
        }
        end({});
        return;
    }
    if (mayRetry(failure)) {
        m_fruitless = m_brought ? 0 : m_fruitless + 1;
        if (m_fruitless < m_retries.mostFruitless) {
            m_failure = failure; // the reason, should the tries run out
            // 1, 2, 4, then 8 s since bytes last came.
            int wait = m_retries.waitsMs.at(std::min<int>(m_sinceBytes, int(m_retries.waitsMs.size()) - 1));
            bool seconds = false;
            const int asked = reply->rawHeader("Retry-After").trimmed().toInt(&seconds);
            if (failure.httpStatus == 429 && seconds && asked >= 0 && asked * 1000 < kLongestRetryAfterMs)
                wait = asked * 1000;
            retryAfter(wait);
            return;
        }
    }
    end(failure);
}

// What a try may mend: a connection that broke, silence, a server that is
// busy or failing for now. Not a clip too large, a refused redirect, or an
// answer that says the clip is not there for us.
bool ClipDownload::mayRetry(const FetchFailure &failure) const
{
    if (m_noRetries)
        return false;
    switch (failure.kind) {
    case FetchFailure::Kind::Network:
    case FetchFailure::Kind::TimedOut: return true;
    case FetchFailure::Kind::HttpStatus:
        return failure.httpStatus >= 500 || failure.httpStatus == 408 || failure.httpStatus == 429;
    default: return false;
    }
}

// Never on the window's thread: a timer asks again.
void ClipDownload::retryAfter(int ms)
{
    m_isRetry = true;
    ++m_sinceBytes;
    m_waitMs = ms;
    m_retry->start(ms);
    setAttempt(m_attempt + 1);
}

// The server's clip is not the one whose bytes are held: nothing of it is
// spliced on.
void ClipDownload::refuseChanged(const QString &detail)
{
    m_changed = true;
    refuse({Playback::reason(Playback::Error::Changed), detail, FetchFailure::Kind::Network});
}

// An answer that is not to be spliced on, or too much: what is held stays,
// and the rest of the answer is not taken. The try ends at the next turn,
// not within the reply's own signal.
void ClipDownload::refuse(const FetchFailure &failure)
{
    if (m_refusal.failed())
        return;
    m_refusal = failure;
    QMetaObject::invokeMethod(this, [this] {
        abortFetch();
        end(m_confirming && !m_brought ? FetchFailure() : m_refusal); // what was held stands
    }, Qt::QueuedConnection);
}

// Whatever arrived stays readable, also when the download broke: what was
// never going to be a clip (an error status, too large) brings no bytes.
void ClipDownload::end(const FetchFailure &failure)
{
    if (m_finished)
        return;
    m_retry->stop();
    m_failure = failure;
    m_finished = true;
    bool sizeChanged = false;
    if (!failure.failed() || m_memory.size() < 0) {
        sizeChanged = m_memory.size() != received();
        m_memory.setSize(received());
    }
    m_memory.end();
    setAttempt(0);
    if (sizeChanged)
        emit sizeKnown();
    emit finished();
}

void ClipDownload::stopRetrying()
{
    m_noRetries = true;
    if (m_retry->isActive())
        end(m_failure);
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
    m_retry->stop();
    abortFetch();
    m_memory.release();
}

void ClipDownload::setAttempt(int attempt)
{
    if (attempt == m_attempt)
        return;
    m_attempt = attempt;
    emit reconnectingChanged();
}
