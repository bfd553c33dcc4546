#include "pageclassifier.h"

#include "pagereader.h"

#include <QUrl>

namespace PageClassifier {

Page classify(const QString &text, const QString &host, const QUrl &address)
{
    using Kind = Page::Kind;
    const PageScanner::Result scanned = PageScanner::scan(text, host);
    Page page;
    page.kind = scanned.kind == PageScanner::PageKind::Voice ? Kind::Voice
        : scanned.kind == PageScanner::PageKind::Link        ? Kind::Link
                                                             : Kind::Empty;
    page.voices = scanned.voices;
    page.links = scanned.links;
    if (page.kind == Kind::Empty || !page.links.isEmpty())
        return page;

    const PageReader::Reading reading = PageReader::read(text, host, address);
    page.title = reading.title;
    if (!page.voices.isEmpty())
        return page;
    if (!reading.voices.isEmpty()) {
        page.kind = Kind::Voice;
        page.voices = reading.voices;
        page.warnings = reading.voiceWarnings;
    } else if (page.kind == Kind::Link && !reading.notice.isEmpty()) {
        page.kind = Kind::NoArticle;
        page.notice = reading.notice;
    } else if (page.kind == Kind::Link) {
        page.links = reading.links;
        page.warnings = reading.linkWarnings + reading.voiceWarnings;
    } else {
        page.warnings = reading.voiceWarnings;
    }
    return page;
}

} // namespace PageClassifier
