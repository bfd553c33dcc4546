#include "samplepages.h"

#include <QRegularExpression>

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

namespace {

// A piece of today's page scripts, with what real ones hold: the names of
// clip elements and attributes, anchors and end tags in strings.
const char kScript[] =
    ";(function(e){var t=e.__wx||{};function n(r){for(var i=0;i<r.length;i++){var o=r[i];"
    "if(o.tagName===\"MP-COMMON-MPAUDIO\"||o.getAttribute(\"voice_encode_fileid\")){t.voice.push({id:"
    "o.getAttribute(\"voice_encode_fileid\"),name:o.getAttribute(\"name\")})}}return t}"
    "var a='<a class=\"wx_tap_link js_wx_tap_highlight\" href=\"javascript:;\">'+t.nick+'<\\/a>';"
    "var s={selector:\"mp-common-mpaudio\",attr:[\"voice_encode_fileid\",\"name\",\"play_length\"]};"
    "t.tpl='<div class=\"audio_card\"><strong class=\"audio_card_title\">'+s.attr[1]+'<\\/strong><\\/div>';"
    "if(t.list&&t.list.length<2&&t.count>3){t.render(s)}else{t.wait=t.wait||[];t.wait.push(n)}"
    "var l=\"</em>   <mpvoice voice_encode_fileid=\\\"InScript\\\"></mpvoice>\";"
    "})(window);\n";
const char kStyle[] =
    ".rich_media_content .js_editor_audio{display:block;margin:16px 0}.audio_card{position:relative;"
    "padding:16px;background:#f7f7f7;border-radius:8px}.audio_card_title{font-size:17px;color:rgba(0,0,0,.9)}"
    ".weui-msg__title{font-size:22px}.normal_text_link{color:#576b95}a.weui-wa-hotarea{display:inline}\n";

QString repeatedTo(const char *piece, int bytes)
{
    const QString unit = QString::fromUtf8(piece);
    return unit.repeated(qMax(1, bytes / int(qstrlen(piece))));
}

// As the page's scripts carry markup: "<" and quotes escaped.
QString jsEscaped(QString markup)
{
    return markup.replace(QLatin1Char('<'), QLatin1String("\\x3c"))
        .replace(QLatin1Char('"'), QLatin1String("\\x22"))
        .replace(QLatin1Char('\''), QLatin1String("\\x27"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

} // namespace

QString todayClip(const Clip &clip)
{
    return QStringLiteral(
               "<section nodeleaf=\"\"><mp-common-mpaudio class=\"js_editor_audio res_iframe js_uneditable "
               "custom_select_card\" data-pluginname=\"insertaudio\" name=\"%1\" author=\"某某读书会\" "
               "src=\"/cgi-bin/readtemplate?t=tmpl/audio_tmpl&amp;name=%25E3%2580%2590&amp;play_length=1%25E5%2588%2586\" "
               "isaac2=\"1\" low_size=\"134.25\" source_size=\"134.3\" high_size=\"516.98\" play_length=\"66000\" "
               "data-trans_state=\"1\" data-verify_state=\"3\" data-topic_id=\"4200000000000000001\" "
               "data-topic_name=\"睡前读书\" voice_encode_fileid=\"%2\" "
               "cover=\"http://mmbiz.qpic.cn/sz_mmbiz_jpg/AbCdEf/0?wx_fmt=jpeg\"></mp-common-mpaudio></section>\n")
        .arg(clip.name, clip.fileId);
}

QString todayAnchor(const Link &link)
{
    const int half = int(link.title.size()) / 2;
    return QStringLiteral(
               "<p><a class=\"normal_text_link\" target=\"_blank\" style=\"color: rgb(248, 57, 41);font-weight: bold;"
               "font-family: STHeitiSC-Light, -apple-system-font, &quot;Helvetica Neue&quot;, sans-serif;\" "
               "href=\"%1\" textvalue=\"%2\" linktype=\"text\" data-linktype=\"2\">%3<span>%4</span></a></p>\n")
        .arg(link.href, link.title, link.title.left(half), link.title.mid(half));
}

QString imageCard(const QString &href)
{
    return QStringLiteral("<p><a class=\"weui-wa-hotarea\" href=\"%1\" target=\"_blank\" data-linktype=\"1\">"
                          "<span class=\"js_jump_icon h5_image_link\"><img class=\"rich_pages wxw-img\" "
                          "data-src=\"https://mmbiz.qpic.cn/mmbiz_jpg/AbC/640\" alt=\"图片\"></span></a></p>\n")
        .arg(href);
}

QByteArray todayPage(const QString &title, const QString &body, int size)
{
    QString ids;
    static const QRegularExpression fileIds(QStringLiteral("voice_encode_fileid=\"([^\"]*)\""));
    for (auto it = fileIds.globalMatch(body); it.hasNext();)
        ids += QStringLiteral("{\\x22voice_id\\x22:\\x22%1\\x22,\\x22sn\\x22:\\x220123\\x22},").arg(it.next().captured(1));
    const int padding = qMax(0, size - int(body.toUtf8().size()) * 2 - 4000);
    QString page = QStringLiteral(
                       "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title></title>\n"
                       "<meta property=\"og:title\" content=\"%1\" />\n<style>%2</style>\n<script>%3</script>\n"
                       "</head>\n<body id=\"activity-detail\">\n<div class=\"rich_media_area_primary\">\n"
                       "<div id=\"js_article\" class=\"rich_media\">\n"
                       "<h1 class=\"rich_media_title \" id=\"activity-name\">%1</h1>\n"
                       "<a href=\"javascript:void(0);\" class=\"wx_tap_link js_wx_tap_highlight weui-wa-hotarea\" "
                       "id=\"js_name\">山门夜话</a>\n"
                       "<div class=\"rich_media_content js_underline_content\" id=\"js_content\" "
                       "style=\"visibility: hidden; opacity: 0; \">\n")
                       .arg(title, repeatedTo(kStyle, padding * 3 / 10), repeatedTo(kScript, padding * 4 / 10));
    page += body;
    page += QStringLiteral("</div>\n</div>\n</div>\n<script>%1</script>\n<script>\nvar msg_title = '%2';\n"
                           "window.cgiData = {content_noencode: JsDecode('%3'),\n"
                           "voice_in_appmsg_list_json: JsDecode('{\\x22voice_in_appmsg\\x22:[%4]}')};\n"
                           "var msg_link = \"http://mp.weixin.qq.com/s?__biz=MzIwMDAwMDAwMA==\\x26amp;mid=2247500001"
                           "\\x26amp;idx=1#rd\";\n</script>\n</body>\n</html>\n")
                .arg(repeatedTo(kScript, padding * 3 / 10), title, jsEscaped(body), ids);
    return page.toUtf8();
}

QByteArray noticePage(Notice notice)
{
    const QString head = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title></title>\n"
                                        "<style>%1</style>\n<script>%2</script>\n</head>\n<body>\n")
                             .arg(repeatedTo(kStyle, 12000), repeatedTo(kScript, 20000));
    switch (notice) {
    case Notice::Deleted:
        return (head + QStringLiteral("<div class=\"weui-msg\"><div class=\"weui-msg__text-area\">"
                                      "<div class=\"weui-msg__title warn\">该内容已被发布者删除</div></div>"
                                      "<div class=\"weui-msg__text-area\" style=\"display: none;\" lang=\"en\">"
                                      "<p>The content has been deleted by the author.</p></div></div>\n</body></html>\n"))
            .toUtf8();
    case Notice::Banned:
        return (head + QStringLiteral("<div class='weui-msg'><div class='weui-msg__text-area'>\n"
                                      "<h2 class='weui-msg__title title'>\n      此内容因违规无法查看\n    </h2>\n"
                                      "<p class='weui-msg__desc'>此内容被多人投诉，相关的内容无法进行查看。</p>\n"
                                      "</div></div>\n</body></html>\n"))
            .toUtf8();
    case Notice::Unavailable:
        return QStringLiteral("<html><head><meta charset=\"utf-8\"><title>该内容暂时无法查看</title></head><body>"
                              "<div class=\"mesg-block\"><p>该内容暂时无法查看</p></div></body></html>\n")
            .toUtf8();
    case Notice::Captcha:
        return (head + QStringLiteral("<div class=\"weui-msg\"><div class=\"weui-msg__text-area\">"
                                      "<h2 class=\"weui-msg__title\">环境异常</h2>"
                                      "<p class=\"weui-msg__desc\">当前环境异常，完成验证后即可继续访问。</p></div>"
                                      "<a href=\"javascript:;\" class=\"weui-btn weui-btn_primary\" id=\"js_verify\">"
                                      "去验证</a></div>\n</body></html>\n"))
            .toUtf8();
    case Notice::VerifyScript:
        return (head + QStringLiteral("<script src=\"https://ssl.captcha.qq.com/TCaptcha.js\"></script>\n<script>"
                                      "location.replace('/mp/secitptpage/verify.html?zh_CN&token=abc');</script>\n"
                                      "</body></html>\n"))
            .toUtf8();
    }
    return QByteArray();
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
