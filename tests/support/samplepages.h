#ifndef SAMPLEPAGES_H
#define SAMPLEPAGES_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Article pages shaped like the real ones: voice elements and article links
// as the editor writes them, page scripts with their traps (the page's own
// address in a script, bare "<a" and "voice_encode_fileid" strings), the
// account-name anchor at the top, and paragraphs of filler.
namespace SamplePages {

struct Clip
{
    QString name;
    QString fileId;
};

struct Link
{
    QString href;  // as written in the page, "&amp;" and all
    QString title;
};

struct Options
{
    int size = 0;              // pad the page to about this many bytes
    bool accountAnchor = true; // the "javascript:" anchor at the top
    bool crlf = false;         // CRLF line ends instead of LF
};

QByteArray voicePage(const QString &title, const QVector<Clip> &clips, const Options &options = {});
QByteArray linkPage(const QString &title, const QVector<Link> &links, const Options &options = {});

// Pages as the host serves them today: most of their bytes inline scripts
// and styles that hold the trap strings (voice_encode_fileid,
// mp-common-mpaudio, "<a"), an empty <title> and the title in og:title,
// `body` inside js_article and js_content, then scripts with the body again
// escaped, the list of its clips and the page's own http address. The
// page is padded to about `size` bytes.
QByteArray todayPage(const QString &title, const QString &body, int size = 2500 * 1024);
// The body's pieces as today's editor writes them: a clip, an article link
// with its title partly in a span, an image card linking an article.
QString todayClip(const Clip &clip);
QString todayAnchor(const Link &link);
QString imageCard(const QString &href);
// The host's pages that hold no article.
enum class Notice { Deleted, Banned, Unavailable, Captcha, VerifyScript };
QByteArray noticePage(Notice notice);

// One editor-style voice element / article anchor.
QString voiceElement(const Clip &clip, int variant = 0);
QString articleAnchor(const Link &link);

// Paragraphs and scripts without any voice element or article link.
QString filler(int size, int seed = 1);

// `data` as a gzip body.
QByteArray gzip(const QByteArray &data);
// `data` as a "deflate" body: with the zlib wrapper, or raw as some servers
// send it.
QByteArray deflate(const QByteArray &data, bool zlibWrapper);

// A gzip body that inflates to `inflatedBytes` zero bytes, about a
// thousandth of that size; made in constant memory.
QByteArray gzipBomb(qint64 inflatedBytes);

} // namespace SamplePages

#endif // SAMPLEPAGES_H
