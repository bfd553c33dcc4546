// libFuzzer target for the page scanner: arbitrary bytes become page text
// as the program makes it, and are scanned and read as markup. Inputs up to
// a few kilobytes are also scanned with QRegExp, and any difference aborts.
#include "oracle.h"
#include "pageclassifier.h"
#include "pagereader.h"
#include "pagescanner.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {

const QString kHost = QStringLiteral("mp.weixin.qq.com");
constexpr size_t kOracleLimit = 4096;

[[noreturn]] void differ(const char *what, const QString &text)
{
    std::fprintf(stderr, "scanner and QRegExp differ (%s) on page: %s\n", what, text.toUtf8().constData());
    std::abort();
}

void compareWithOracle(const QString &text)
{
    using PageScanner::Match;
    for (int from = 0;;) {
        const Match fast = PageScanner::findVoiceEntry(text, from);
        if (!(fast == RegExpOracle::findVoiceEntry(text, from)))
            differ("voice entry", text);
        if (!fast.found())
            break;
        from = fast.position + fast.length;
    }
    for (int from = 0;;) {
        const Match fast = PageScanner::findAnchor(text, from, kHost);
        if (!(fast == RegExpOracle::findAnchor(text, from, kHost)))
            differ("anchor", text);
        if (!fast.found())
            break;
        const QString &anchor = fast.captures.at(0);
        if (!(PageScanner::findHref(anchor) == RegExpOracle::findHref(anchor)))
            differ("href", text);
        if (PageScanner::linkTitle(anchor) != RegExpOracle::linkTitle(anchor))
            differ("title", text);
        from = fast.position + fast.length;
    }
    if (!(PageScanner::scan(text, kHost) == RegExpOracle::scan(text, kHost)))
        differ("page result", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QString text = PageScanner::pageText(body);
    const PageScanner::Result result = PageScanner::scan(text, kHost);
    for (const PageScanner::LinkEntry &link : result.links)
        (void)PageScanner::linkAddress(link.address);
    // The markup reading: bounded, whatever the page.
    const PageClassifier::Page page = PageClassifier::classify(text, kHost, QUrl());
    if (page.voices.size() > PageReader::kMostEntries || page.links.size() > PageReader::kMostEntries)
        differ("entries beyond the bound", text);
    // The article's title: bounded, and never half a character.
    const QString title = PageReader::articleTitle(text);
    if (title.size() > 200 || (!title.isEmpty() && title.back().isHighSurrogate()))
        differ("title length", text);
    if (size <= kOracleLimit)
        compareWithOracle(text);
    return 0;
}
