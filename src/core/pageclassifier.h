#ifndef PAGECLASSIFIER_H
#define PAGECLASSIFIER_H

#include "pagescanner.h"

#include <QString>
#include <QStringList>
#include <QVector>

class QUrl;

// What kind of page an answer is, as the window takes it. Wherever the
// scanner's patterns find entries, they decide, as they always have. Where
// they find none, the markup does: voice elements make a voice page, a page
// that says it holds no article is not taken for a page at all, and a link
// page lists the article links of its markup.
namespace PageClassifier {

struct Page
{
    enum class Kind { Empty, Voice, Link, NoArticle };

    Kind kind = Kind::Empty;
    QVector<PageScanner::VoiceEntry> voices;
    QVector<PageScanner::LinkEntry> links;
    QStringList warnings;
    QString notice; // NoArticle: the page's own words
    QString title;  // Voice: the article's title
};

// `address` is where the page came from in the end, after redirects.
Page classify(const QString &text, const QString &host, const QUrl &address);

} // namespace PageClassifier

#endif // PAGECLASSIFIER_H
