#ifndef PAGEREADER_H
#define PAGEREADER_H

#include "pagescanner.h"

#include <QString>
#include <QStringList>
#include <QVector>

class QUrl;

// Reads an article page's markup as a browser does: its elements and their
// attributes, its text, and what is script, style or comment and so holds
// no element. Pages as the host serves them today show a clip as an
// <mp-common-mpaudio> (older ones as <mpvoice>) without the marker, link
// articles by https addresses, and some say that there is no article at
// all; the page scanner's patterns find none of it. Needs nothing beyond
// Qt Core, and reads a page in one pass, in time linear in its length.
namespace PageReader {

constexpr int kMostEntries = 10000; // clips, and links, taken from one page

struct Reading
{
    QVector<PageScanner::VoiceEntry> voices; // each clip once, in page order
    QVector<PageScanner::LinkEntry> links;   // each article once, in page order
    QStringList voiceWarnings;               // what was left out, and why
    QStringList linkWarnings;
    // The page's own words when it says it holds no article; else empty.
    QString notice;
    // The article's title: its og:title, otherwise its <title>; empty if
    // it has neither.
    QString title;
};

// `address` is where the page came from in the end, after redirects.
Reading read(const QString &text, const QString &host, const QUrl &address);

// The article's title alone.
QString articleTitle(const QString &text);

// HTML character references decoded: the common named ones and numeric ones.
QString decodeEntities(const QString &text);

} // namespace PageReader

#endif // PAGEREADER_H
