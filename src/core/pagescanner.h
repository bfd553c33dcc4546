#ifndef PAGESCANNER_H
#define PAGESCANNER_H

#include <QString>
#include <QStringList>
#include <QVector>

class QByteArray;

// Reads article pages: decides whether a page carries voice clips and pulls
// out its clip entries or its article links. Needs nothing beyond Qt Core.
//
// The page is not parsed as HTML. Entries are found with five fixed text
// patterns whose exact behaviour under QRegExp (leftmost start, shortest
// match, captures) defines the results:
//   voice entry  <mpvoice.+\sname="(.+)"\s.+voice_encode_fileid="(.+)"   minimal
//   anchor       <a.+http://HOST/s.+</a>                                    minimal
//   href         href="(.+)"                                                minimal
//   title head   .+;">                                                      greedy
//   title tail   <.+                                                        greedy
// HOST is the article host written unescaped, so its dots match any
// character. The functions below give the same results in time linear in
// the length of the page.
namespace PageScanner {

enum class PageKind { Empty, Voice, Link };

struct VoiceEntry
{
    QString name;
    QString fileId;

    bool operator==(const VoiceEntry &o) const { return name == o.name && fileId == o.fileId; }
};

struct LinkEntry
{
    QString address;
    QString title;

    bool operator==(const LinkEntry &o) const { return address == o.address && title == o.title; }
};

struct Result
{
    PageKind kind = PageKind::Empty;
    QVector<VoiceEntry> voices;
    QVector<LinkEntry> links;

    bool operator==(const Result &o) const { return kind == o.kind && voices == o.voices && links == o.links; }
};

// One search result: position -1 when nothing matched; captures[0] is the
// whole match, further elements the pattern's captures.
struct Match
{
    int position = -1;
    int length = 0;
    QStringList captures;

    bool found() const { return position >= 0; }
    bool operator==(const Match &o) const
    {
        return position == o.position && length == o.length && captures == o.captures;
    }
};

inline constexpr char voiceMarker[] = "audio_iframe";

// Page text: the bytes before the first NUL, decoded as UTF-8.
QString pageText(const QByteArray &body);

// The article host as it stands in the anchor pattern: host and port of the
// article address prefix.
QString articleHost(const QString &articleBase);

Result scan(const QString &text, const QString &host);

Match findVoiceEntry(const QString &text, int from);
Match findAnchor(const QString &text, int from, const QString &host);
Match findHref(const QString &anchorText);

// The stored address of an accepted href value.
QString linkAddress(const QString &hrefValue);
// The row text of an anchor.
QString linkTitle(const QString &anchorText);

} // namespace PageScanner

#endif // PAGESCANNER_H
