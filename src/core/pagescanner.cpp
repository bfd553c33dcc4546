#include "pagescanner.h"

#include "address.h"

#include <QByteArray>
#include <QtAlgorithms>
#include <QRegExp>
#include <QUrl>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace PageScanner {

namespace {

const QLatin1String kMpvoice("<mpvoice");
const QLatin1String kName("name=\"");
const QLatin1String kFileId("voice_encode_fileid=\"");
const QLatin1String kAnchorOpen("<a");
const QLatin1String kAnchorClose("</a>");
const QLatin1String kHttp("http://");
const QLatin1String kHref("href=\"");

bool sameAt(const ushort *text, int pos, QLatin1String needle)
{
    for (int k = 1; k + 1 < needle.size(); ++k) {
        if (text[pos + k] != uchar(needle.data()[k]))
            return false;
    }
    return true;
}

// First occurrence of an ASCII needle of two or more characters at or after
// `from`, or -1. Pages run to megabytes and are searched several times, so
// candidates are picked eight characters at a time by their first and last
// character.
int find(const QString &text, QLatin1String needle, int from)
{
    const int n = text.size();
    const int m = needle.size();
    Q_ASSERT(m >= 2);
    const auto *s = reinterpret_cast<const ushort *>(text.constData());
    const ushort first = uchar(needle.data()[0]);
    const ushort last = uchar(needle.data()[m - 1]);
    int i = qMax(0, from);
#ifdef __SSE2__
    const __m128i firsts = _mm_set1_epi16(short(first));
    const __m128i lasts = _mm_set1_epi16(short(last));
    for (; i + m - 1 + 8 <= n; i += 8) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + m - 1));
        unsigned mask = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(head, firsts), _mm_cmpeq_epi16(tail, lasts))));
        while (mask) {
            const int bit = int(qCountTrailingZeroBits(mask));
            if (sameAt(s, i + bit / 2, needle))
                return i + bit / 2;
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i + m <= n; ++i) {
        if (s[i] == first && s[i + m - 1] == last && sameAt(s, i, needle))
            return i;
    }
    return -1;
}

bool isPatternChar(QChar c)
{
    return QStringLiteral("$()*+?[\\]^{|}").contains(c);
}

// Does "http://" HOST "/s" stand at pos, with every dot of HOST matching
// any character?
bool addressAt(const QString &text, int pos, const QString &host)
{
    const int hostStart = pos + kHttp.size();
    const int end = hostStart + host.size() + 2;
    if (end > text.size())
        return false;
    for (int i = 0; i < host.size(); ++i) {
        const QChar h = host.at(i);
        if (h != QLatin1Char('.') && h != text.at(hostStart + i))
            return false;
    }
    return text.at(end - 2) == QLatin1Char('/') && text.at(end - 1) == QLatin1Char('s');
}

Match anchorByRegExp(const QString &text, int from, const QString &host)
{
    QRegExp rx(QStringLiteral("<a.+http://") + host + QStringLiteral("/s.+</a>"), Qt::CaseSensitive,
               QRegExp::RegExp);
    rx.setMinimal(true);
    Match m;
    m.position = rx.indexIn(text, from);
    if (m.found()) {
        m.length = rx.matchedLength();
        m.captures = QStringList{rx.cap(0)};
    }
    return m;
}

} // namespace

QString pageText(const QByteArray &body)
{
    const int nul = body.indexOf('\0');
    return QString::fromUtf8(body.constData(), nul < 0 ? body.size() : nul);
}

QString articleHost(const QString &articleBase)
{
    return hostAndPort(QUrl(articleBase, QUrl::TolerantMode));
}

Match findVoiceEntry(const QString &text, int from)
{
    // Any "<mpvoice" can begin a match if a later one can, so the first one
    // at or after `from` is where the match starts; each later piece is taken
    // as early as it can be, which gives the shortest match.
    const int n = text.size();
    const int start = find(text, kMpvoice, qMax(0, from));
    if (start < 0)
        return {};

    // whitespace + name=" with at least one character before it
    int nameAt = start + kMpvoice.size() + 2;
    for (;; ++nameAt) {
        nameAt = find(text, kName, nameAt);
        if (nameAt < 0)
            return {};
        if (text.at(nameAt - 1).isSpace())
            break;
    }

    // closing quote of the name, followed by whitespace
    int quote = nameAt + kName.size() + 1;
    for (;; ++quote) {
        quote = text.indexOf(QLatin1Char('"'), quote);
        if (quote < 0 || quote + 1 >= n)
            return {};
        if (text.at(quote + 1).isSpace())
            break;
    }

    const int fileIdAt = find(text, kFileId, quote + 3);
    if (fileIdAt < 0)
        return {};
    const int end = text.indexOf(QLatin1Char('"'), fileIdAt + kFileId.size() + 1);
    if (end < 0)
        return {};

    // Where one match can be divided between the two captures in several
    // ways, QRegExp gives the name the longest span: it starts after the
    // first possible name=" and ends at the last quote-and-whitespace before
    // the file id. The file id can only start at the one found above: any
    // later "voice_encode_fileid=\"" would bring its own quote before `end`.
    int nameEnd = fileIdAt - 3;
    while (!(text.at(nameEnd) == QLatin1Char('"') && text.at(nameEnd + 1).isSpace()))
        --nameEnd; // stops at `quote` at the latest

    const int nameStart = nameAt + kName.size();
    const int fileIdStart = fileIdAt + kFileId.size();
    Match m;
    m.position = start;
    m.length = end + 1 - start;
    m.captures = QStringList{text.mid(start, m.length), text.mid(nameStart, nameEnd - nameStart),
                             text.mid(fileIdStart, end - fileIdStart)};
    return m;
}

Match findAnchor(const QString &text, int from, const QString &host)
{
    for (const QChar c : host) {
        if (isPatternChar(c))
            return anchorByRegExp(text, from, host);
    }

    // As with voice entries, the first "<a" at or after `from` starts the
    // match whenever there is one at all.
    const int start = find(text, kAnchorOpen, qMax(0, from));
    if (start < 0)
        return {};

    int address = start + kAnchorOpen.size() + 1;
    for (;; ++address) {
        address = find(text, kHttp, address);
        if (address < 0)
            return {};
        if (addressAt(text, address, host))
            break;
    }

    const int close = find(text, kAnchorClose, address + kHttp.size() + host.size() + 2 + 1);
    if (close < 0)
        return {};

    Match m;
    m.position = start;
    m.length = close + kAnchorClose.size() - start;
    m.captures = QStringList{text.mid(start, m.length)};
    return m;
}

Match findHref(const QString &anchorText)
{
    // A later href=" could only close later, so the first one decides.
    const int at = find(anchorText, kHref, 0);
    if (at < 0)
        return {};
    const int valueStart = at + kHref.size();
    const int quote = anchorText.indexOf(QLatin1Char('"'), valueStart + 1);
    if (quote < 0)
        return {};
    Match m;
    m.position = at;
    m.length = quote + 1 - at;
    m.captures = QStringList{anchorText.mid(at, m.length), anchorText.mid(valueStart, quote - valueStart)};
    return m;
}

QString linkAddress(const QString &hrefValue)
{
    QString address = hrefValue;
    address.replace(QLatin1String("#wechat_redirect"), QString());
    address.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return address;
}

QString linkTitle(const QString &anchorText)
{
    QString title = anchorText;
    title.remove(QLatin1String("&nbsp;"));

    // Greedy ".+;\">" takes everything up to the last semicolon, quote,
    // greater-than that has at least one character before it.
    const int head = title.lastIndexOf(QLatin1String(";\">"));
    if (head >= 1)
        title.remove(0, head + 3);

    // Greedy "<.+" takes everything from the first "<" that is not last.
    const int tail = title.indexOf(QLatin1Char('<'));
    if (tail >= 0 && tail + 1 < title.size())
        title.truncate(tail);

    title.remove(QLatin1Char(' '));
    return title;
}

Result scan(const QString &text, const QString &host)
{
    Result result;
    if (text.isEmpty())
        return result;

    if (find(text, QLatin1String(voiceMarker), 0) >= 0) {
        result.kind = PageKind::Voice;
        for (Match m = findVoiceEntry(text, 0); m.found();
             m = findVoiceEntry(text, m.position + m.length)) {
            result.voices.append({m.captures.at(1), m.captures.at(2)});
        }
        return result;
    }

    result.kind = PageKind::Link;
    for (Match m = findAnchor(text, 0, host); m.found(); m = findAnchor(text, m.position + m.length, host)) {
        const QString &anchor = m.captures.at(0);
        const Match href = findHref(anchor);
        if (!href.found() || !href.captures.at(1).contains(QLatin1String("http")))
            continue;
        result.links.append({linkAddress(href.captures.at(1)), linkTitle(anchor)});
    }
    return result;
}

} // namespace PageScanner
