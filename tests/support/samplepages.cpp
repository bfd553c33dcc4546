#include "samplepages.h"

#include <zlib.h>

namespace SamplePages {

namespace {

const char *const kParagraphs[] = {
    "<p style=\"line-height: 1.75em;\"><span style=\"font-size: 15px;\">山门之外云海翻涌，少年背着竹篓走过石阶，听见钟声从远处传来。</span></p>",
    "<p><span style=\"color: rgb(62, 62, 62);\">他抬头看了一眼天色，&nbsp;心中默念师父留下的口诀。</span><br></p>",
    "<section style=\"margin: 10px 0;\"><p>第二天清晨，长老召集众弟子，宣布了新的门规。</p></section>",
    "<p style=\"text-align: center;\"><img data-src=\"https://mmbiz.example/pic.jpg\" data-ratio=\"0.56\"></p>",
};

QString pageHead(const QString &title, bool accountAnchor)
{
    QString head = QStringLiteral(
                       "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n"
                       "<script>var biz = \"MzI0MDAwMDAwMA==\"; var tpl = '<a class=\"tpl\">';</script>\n"
                       "</head>\n<body id=\"activity-detail\">\n<div class=\"rich_media_inner\">\n"
                       "<h1 class=\"rich_media_title\">%1</h1>\n")
                       .arg(title);
    if (accountAnchor)
        head += QStringLiteral("<a href=\"javascript:void(0);\" class=\"rich_media_meta_link\" id=\"js_name\">"
                               "山门夜话</a>\n");
    else
        head += QStringLiteral("<span class=\"rich_media_meta_text\" id=\"js_name\">山门夜话</span>\n");
    head += QStringLiteral("<div class=\"rich_media_content\" id=\"js_content\">\n");
    return head;
}

QString pageTail()
{
    return QStringLiteral(
        "</div>\n</div>\n<script>\n"
        "var msg_link = \"http://mp.weixin.qq.com/s?__biz=MzI0MDAwMDAwMA==\\x26amp;mid=2247480001#rd\";\n"
        "var voiceKeys = [\"voice_encode_fileid\", \"play_length\"];\n"
        "</script>\n</body>\n</html>\n");
}

QByteArray finish(QString page, const Options &options)
{
    if (options.crlf)
        page.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return page.toUtf8();
}

} // namespace

QString filler(int size, int seed)
{
    QString text;
    int bytes = 0;
    unsigned state = unsigned(seed) * 2654435761u + 1;
    while (bytes < size) {
        state = state * 1103515245u + 12345u;
        const char *paragraph = kParagraphs[(state >> 16) % 4];
        text += QString::fromUtf8(paragraph) + QLatin1Char('\n');
        bytes += int(qstrlen(paragraph)) + 1;
    }
    return text;
}

QString voiceElement(const Clip &clip, int variant)
{
    if (variant % 2 == 0) {
        return QStringLiteral(
                   "<p><mpvoice frameborder=\"0\" class=\"res_iframe js_editor_audio audio_iframe place_audio_area\" "
                   "src=\"/cgi-bin/readtemplate?t=tmpl/audio_tmpl&amp;name=%25E7%25AC%25AC&amp;play_length=13:45\" "
                   "isaac2=\"1\" low_size=\"1605.57\" source_size=\"1638.4\" high_size=\"6452.51\" name=\"%1\" "
                   "play_length=\"825000\" voice_encode_fileid=\"%2\"></mpvoice></p>\n")
            .arg(clip.name, clip.fileId);
    }
    return QStringLiteral("<p>\t<mpvoice frameborder=\"0\" class=\"res_iframe js_editor_audio audio_iframe\"\n"
                          "\tsrc=\"/cgi-bin/readtemplate?t=tmpl/audio_tmpl&amp;name=134&amp;play_length=05:37\"\n"
                          "\tname=\"%1\" play_length=\"337000\" voice_encode_fileid=\"%2\"></mpvoice></p>\n")
        .arg(clip.name, clip.fileId);
}

QString articleAnchor(const Link &link)
{
    return QStringLiteral("<p style=\"color: rgb(51, 51, 51);\"><a href=\"%1\" target=\"_blank\" "
                          "style=\"color: rgb(87, 107, 149);\"><span style=\"font-size: 14px;\">%2</span></a></p>\n")
        .arg(link.href, link.title);
}

QByteArray voicePage(const QString &title, const QVector<Clip> &clips, const Options &options)
{
    const int budget = qMax(0, options.size - 2000 * int(clips.size() + 1));
    QString page = pageHead(title, options.accountAnchor);
    page += filler(budget / 3, 1);
    for (int i = 0; i < clips.size(); ++i) {
        page += voiceElement(clips.at(i), i);
        page += filler(budget / 3 / qMax(1, int(clips.size())), i + 2);
    }
    page += filler(budget / 3, 9);
    page += pageTail();
    return finish(page, options);
}

QByteArray linkPage(const QString &title, const QVector<Link> &links, const Options &options)
{
    const int budget = qMax(0, options.size - 300 * int(links.size()) - 2000);
    QString page = pageHead(title, options.accountAnchor);
    page += filler(budget / 2, 3);
    page += QStringLiteral("<p><strong>往期回顾</strong></p>\n");
    for (const Link &link : links)
        page += articleAnchor(link);
    page += filler(budget / 2, 4);
    page += pageTail();
    return finish(page, options);
}

namespace {

QByteArray compress(const QByteArray &data, int windowBits)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(int(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

QByteArray gzip(const QByteArray &data)
{
    return compress(data, MAX_WBITS + 16); // + 16: gzip wrapper
}

QByteArray deflate(const QByteArray &data, bool zlibWrapper)
{
    return compress(data, zlibWrapper ? MAX_WBITS : -MAX_WBITS);
}

QByteArray gzipBomb(qint64 inflatedBytes)
{
    // After a full flush the compressor starts afresh, so every further MiB
    // of zeros compresses to the same bytes: compress one, repeat it.
    constexpr qint64 kSegment = 1024 * 1024;
    const QByteArray zeros(int(kSegment), '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, kSegment)) + 64, '\0');
    auto compress = [&](const QByteArray &in, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, flush);
        return out.left(out.size() - int(z.avail_out));
    };
    compress(zeros, Z_FULL_FLUSH);
    const QByteArray segment = compress(zeros, Z_FULL_FLUSH); // as every later one
    const qint64 segments = inflatedBytes / kSegment;
    const QByteArray rest(int(inflatedBytes - segments * kSegment), '\0');

    QByteArray body("\x1f\x8b\x08\0\0\0\0\0\x02\x03", 10);
    body.reserve(int(segment.size() * segments + 4096));
    for (qint64 i = 0; i < segments; ++i)
        body += segment;
    body += compress(rest, Z_FINISH);
    deflateEnd(&z);

    const uLong zeroCrc = crc32(0, reinterpret_cast<const Bytef *>(zeros.constData()), uInt(kSegment));
    uLong crc = crc32(0, nullptr, 0);
    for (qint64 i = 0; i < segments; ++i)
        crc = crc32_combine(crc, zeroCrc, kSegment);
    crc = crc32_combine(crc, crc32(0, reinterpret_cast<const Bytef *>(rest.constData()), uInt(rest.size())), rest.size());
    for (const quint32 word : {quint32(crc), quint32(inflatedBytes)}) {
        for (int shift = 0; shift < 32; shift += 8)
            body += char((word >> shift) & 0xff);
    }
    return body;
}

} // namespace SamplePages
