#include "oracle.h"

#include <QRegExp>

namespace RegExpOracle {

namespace {

PageScanner::Match search(QRegExp &rx, const QString &text, int from)
{
    PageScanner::Match m;
    m.position = rx.indexIn(text, from);
    if (m.found()) {
        m.length = rx.matchedLength();
        m.captures = rx.capturedTexts();
    }
    return m;
}

QRegExp minimal(const QString &pattern)
{
    QRegExp rx(pattern, Qt::CaseSensitive, QRegExp::RegExp);
    rx.setMinimal(true);
    return rx;
}

QRegExp voicePattern()
{
    return minimal(QStringLiteral("<mpvoice.+\\sname=\\\"(.+)\\\"\\s.+voice_encode_fileid=\\\"(.+)\\\""));
}

QRegExp anchorPattern(const QString &host)
{
    return minimal(QStringLiteral("<a.+http://") + host + QStringLiteral("/s.+</a>"));
}

QRegExp hrefPattern()
{
    return minimal(QStringLiteral("href=\\\"(.+)\\\""));
}

} // namespace

PageScanner::Match findVoiceEntry(const QString &text, int from)
{
    QRegExp rx = voicePattern();
    return search(rx, text, from);
}

PageScanner::Match findAnchor(const QString &text, int from, const QString &host)
{
    QRegExp rx = anchorPattern(host);
    return search(rx, text, from);
}

PageScanner::Match findHref(const QString &anchorText)
{
    QRegExp rx = hrefPattern();
    return search(rx, anchorText, 0);
}

QString linkTitle(const QString &anchorText)
{
    QString title = anchorText;
    title.replace(QLatin1String("&nbsp;"), QString());
    for (const QString &pattern : {QStringLiteral(".+;\">"), QStringLiteral("<.+")}) {
        const QRegExp rx(pattern, Qt::CaseSensitive, QRegExp::RegExp);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        title = rx.replaceIn(title, QString()); // Qt 6's QString knows no QRegExp
#else
        title.replace(rx, QString());
#endif
    }
    title.replace(QLatin1String(" "), QString());
    return title;
}

PageScanner::Result scan(const QString &text, const QString &host)
{
    PageScanner::Result result;
    if (text.isEmpty())
        return result;

    if (text.indexOf(QLatin1String("audio_iframe"), 0, Qt::CaseSensitive) >= 0) {
        result.kind = PageScanner::PageKind::Voice;
        QRegExp rx = voicePattern();
        int pos = 0;
        while ((pos = rx.indexIn(text, pos)) != -1) {
            result.voices.append({rx.cap(1), rx.cap(2)});
            pos += rx.matchedLength();
        }
        return result;
    }

    result.kind = PageScanner::PageKind::Link;
    QRegExp anchor = anchorPattern(host);
    QRegExp href = hrefPattern();
    int pos = 0;
    while ((pos = anchor.indexIn(text, pos)) != -1) {
        const QString anchorText = anchor.cap(0);
        if (href.indexIn(anchorText, 0) != -1 && href.cap(1).contains(QLatin1String("http"), Qt::CaseSensitive)) {
            QString address = href.cap(1);
            address.replace(QLatin1String("#wechat_redirect"), QString(), Qt::CaseSensitive);
            address.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseSensitive);
            result.links.append({address, linkTitle(anchorText)});
        }
        pos += anchor.matchedLength();
    }
    return result;
}

} // namespace RegExpOracle
