#include "pageclassifier.h"
#include "pagereader.h"
#include "pagescanner.h"

#include "oracle.h"
#include "samplepages.h"

#include <QtTest>

#include <functional>
#include <random>

using PageScanner::LinkEntry;
using PageScanner::Match;
using PageScanner::PageKind;
using PageScanner::Result;
using PageScanner::VoiceEntry;

Q_DECLARE_METATYPE(PageScanner::PageKind)
Q_DECLARE_METATYPE(PageClassifier::Page::Kind)

namespace {

const QString kHost = QStringLiteral("mp.weixin.qq.com");

QStringList voiceRows(const Result &r)
{
    QStringList rows;
    for (const VoiceEntry &v : r.voices)
        rows.append(v.name + QLatin1Char('|') + v.fileId);
    return rows;
}

QStringList linkRows(const Result &r)
{
    QStringList rows;
    for (const LinkEntry &l : r.links)
        rows.append(l.address + QLatin1Char('|') + l.title);
    return rows;
}

// Everything both scanners say about a page, as text: every match of both
// scanning patterns from every position the program searches from, every
// href match and title, and the page's full result.
struct Fast
{
    static Match voice(const QString &t, int from) { return PageScanner::findVoiceEntry(t, from); }
    static Match anchor(const QString &t, int from) { return PageScanner::findAnchor(t, from, kHost); }
    static Match href(const QString &t) { return PageScanner::findHref(t); }
    static QString title(const QString &t) { return PageScanner::linkTitle(t); }
    static Result scan(const QString &t) { return PageScanner::scan(t, kHost); }
};

struct Oracle
{
    static Match voice(const QString &t, int from) { return RegExpOracle::findVoiceEntry(t, from); }
    static Match anchor(const QString &t, int from) { return RegExpOracle::findAnchor(t, from, kHost); }
    static Match href(const QString &t) { return RegExpOracle::findHref(t); }
    static QString title(const QString &t) { return RegExpOracle::linkTitle(t); }
    static Result scan(const QString &t) { return RegExpOracle::scan(t, kHost); }
};

QString describe(const Match &m)
{
    return QStringLiteral("%1+%2[%3]").arg(m.position).arg(m.length).arg(m.captures.join(QStringLiteral("|")));
}

template <typename Impl>
QString trace(const QString &text)
{
    QString out;
    for (Match m = Impl::voice(text, 0); m.found(); m = Impl::voice(text, m.position + m.length))
        out += QStringLiteral("voice ") + describe(m) + QLatin1Char('\n');
    for (Match m = Impl::anchor(text, 0); m.found(); m = Impl::anchor(text, m.position + m.length)) {
        out += QStringLiteral("anchor ") + describe(m) + QLatin1Char('\n');
        out += QStringLiteral("href ") + describe(Impl::href(m.captures.at(0))) + QLatin1Char('\n');
        out += QStringLiteral("title ") + Impl::title(m.captures.at(0)) + QLatin1Char('\n');
    }
    const Result r = Impl::scan(text);
    out += QStringLiteral("kind %1\n").arg(int(r.kind)) + voiceRows(r).join(QLatin1Char('\n'))
        + linkRows(r).join(QLatin1Char('\n'));
    return out;
}

// Pieces that decide how the patterns match, and filler between them.
const char *const kTokens[] = {
    "<a", "</a>", "<a href=\"", "http://mp.weixin.qq.com/s", "http://mp.weixin.qq.com", "http://mpXweixin-qq_com/s",
    "http://", "https://mp.weixin.qq.com/s", "/s", "/s/", "href=", "href=\"", "\"", "\"", ";\">", ";", ">",
    "<", "<mpvoice", "<mpvoice ", "name=", " name=\"", "name=\"", "voice_encode_fileid=",
    "voice_encode_fileid=\"", "audio_iframe", " ", " ", "\t", "\n", "\r\n", "\v", "\f", "\xc2\xa0", "\xc2\x85",
    "\xe3\x80\x80", "\xe2\x80\x83", "x", "ab", "标题", "&nbsp;", "&amp;", "&amp;amp;", "#wechat_redirect", "http",
    "=", "<span style=\"a;\">", "</span>", "\0",
};
constexpr int kTokenCount = int(sizeof(kTokens) / sizeof(kTokens[0]));

// Words the scanner searches for, each of which a near miss must not pass.
const char *const kWords[] = {
    "<mpvoice", " name=\"", "voice_encode_fileid=\"", "audio_iframe", "<a", "</a>", "http://",
    "mp.weixin.qq.com/s", "href=\"", ";\">", "&nbsp;", "&amp;", "#wechat_redirect",
};
const char *const kReplaced[] = {"#wechat_redirect", "&amp;", "&nbsp;"};

// The tokens, then near misses: every character of every word replaced,
// dropped or doubled; the address with something else than "/s" after the
// host; one replaced text inside another, so that a replacement can make
// or break the other.
const QStringList &pieces()
{
    static const QStringList all = [] {
        QStringList out;
        for (int t = 0; t < kTokenCount - 1; ++t)
            out.append(QString::fromUtf8(kTokens[t]));
        out.append(QString(QChar(0)));
        for (const char *word : kWords) {
            const QString w = QString::fromUtf8(word);
            for (int i = 0; i < w.size(); ++i) {
                out.append(QString(w).replace(i, 1, QLatin1Char('X')));
                out.append(QString(w).remove(i, 1));
                out.append(QString(w).insert(i, w.at(i)));
            }
        }
        for (const char *tail : {"/x", "/", ""})
            out.append(QStringLiteral("http://mp.weixin.qq.com") + QLatin1String(tail));
        for (const char *outer : kReplaced) {
            for (const char *inner : kReplaced) {
                const QString o = QString::fromUtf8(outer);
                for (int i = 1; inner != outer && i < o.size(); ++i)
                    out.append(QString(o).insert(i, QString::fromUtf8(inner)));
            }
        }
        return out;
    }();
    return all;
}

QString render(const QVector<int> &tokens)
{
    QString page;
    for (int t : tokens)
        page += t >= 0 ? pieces().at(t) : QString(-t, QLatin1Char('z'));
    return page;
}

QVector<int> generate(std::mt19937 &rng)
{
    const int length = std::uniform_int_distribution<int>(1, 36)(rng);
    const int nearMisses = pieces().size() - kTokenCount;
    QVector<int> tokens;
    for (int i = 0; i < length; ++i) {
        const int pick = std::uniform_int_distribution<int>(0, kTokenCount + 2)(rng);
        if (pick >= kTokenCount - 1) // NUL now and then, long filler runs more often
            tokens.append(pick == kTokenCount - 1 && rng() % 4 == 0 ? kTokenCount - 1
                                                                    : -std::uniform_int_distribution<int>(1, 40)(rng));
        else if (rng() % 4 == 0)
            tokens.append(kTokenCount + std::uniform_int_distribution<int>(0, nearMisses - 1)(rng));
        else
            tokens.append(pick);
    }
    // Now and then the page ends in the middle of an article address.
    if (rng() % 8 == 0)
        tokens.append(pieces().indexOf(QStringLiteral("http://mp.weixin.qq.com/")) + int(rng() % 2));
    return tokens;
}

bool differs(const QString &page)
{
    return trace<Fast>(page) != trace<Oracle>(page);
}

QString shrink(QVector<int> tokens)
{
    for (bool again = true; again;) {
        again = false;
        for (int i = 0; i < tokens.size(); ++i) {
            QVector<int> fewer = tokens;
            fewer.remove(i);
            if (differs(render(fewer))) {
                tokens = fewer;
                again = true;
                --i;
            }
        }
    }
    QString page = render(tokens);
    for (int i = 0; i < page.size(); ++i) {
        const QString fewer = page.left(i) + page.mid(i + 1);
        if (differs(fewer)) {
            page = fewer;
            --i;
        }
    }
    return page;
}

QString escaped(const QString &s)
{
    QString out;
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x85 || c.unicode() == 0xa0)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

class TestPageScanner : public QObject
{
    Q_OBJECT

private slots:
    void workedExampleVoicePage();
    void workedExampleLinkPage();
    void pageText_data();
    void pageText();
    void scan_data();
    void scan();
    void articleHost_data();
    void articleHost();
    void hostWithPatternCharacters_data();
    void hostWithPatternCharacters();
    void samePagesAsQRegExp();
    void readPage_data();
    void readPage();
    void articleTitle_data();
    void articleTitle();
    void linearTime_data();
    void linearTime();
};

void TestPageScanner::workedExampleVoicePage()
{
    const QString page = QStringLiteral("<p><mpvoice class=\"res_iframe audio_iframe\" name=\"Chapter one\" "
                                        "frameborder=\"0\" voice_encode_fileid=\"AbC123\"></mpvoice></p>");
    const Match m = PageScanner::findVoiceEntry(page, 0);
    QCOMPARE(m.position, page.indexOf(QLatin1String("<mpvoice")));
    QCOMPARE(m.position + m.length, page.indexOf(QLatin1String("AbC123")) + 7);
    const Result r = PageScanner::scan(page, kHost);
    QCOMPARE(r.kind, PageKind::Voice);
    QCOMPARE(voiceRows(r), QStringList{QStringLiteral("Chapter one|AbC123")});
    QVERIFY(!PageScanner::findVoiceEntry(page, m.position + m.length).found());
}

void TestPageScanner::workedExampleLinkPage()
{
    const QString page = QStringLiteral("<div><a href=\"http://mp.weixin.qq.com/s?id=7&amp;n=1#wechat_redirect\">"
                                        "<span style=\"color: red;\">Chapter Two&nbsp;</span></a></div>");
    const Match m = PageScanner::findAnchor(page, 0, kHost);
    QCOMPARE(m.position, 5);
    QCOMPARE(m.captures.at(0), page.mid(5, page.indexOf(QLatin1String("</a>")) + 4 - 5));
    QCOMPARE(PageScanner::findHref(m.captures.at(0)).captures.at(1),
             QStringLiteral("http://mp.weixin.qq.com/s?id=7&amp;n=1#wechat_redirect"));
    const Result r = PageScanner::scan(page, kHost);
    QCOMPARE(r.kind, PageKind::Link);
    QCOMPARE(linkRows(r), QStringList{QStringLiteral("http://mp.weixin.qq.com/s?id=7&n=1|ChapterTwo")});
}

void TestPageScanner::pageText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("NUL first") << QByteArray("\0audio_iframe", 13) << QString();
    QTest::newRow("NUL inside ends the text") << QByteArray("ab\0<mpvoice", 11) << QStringLiteral("ab");
    QTest::newRow("UTF-8") << QByteArray("\xe4\xbf\xae\xe4\xbb\x99") << QStringLiteral("修仙");
    QTest::newRow("invalid UTF-8 becomes replacement characters")
        << QByteArray("a\xff\xfe b") << QStringLiteral("a\ufffd\ufffd b");
    QTest::newRow("declared charset ignored")
        << QByteArray("<meta charset=\"gbk\">\xd0\xde") << QStringLiteral("<meta charset=\"gbk\">\ufffd\ufffd");
}

void TestPageScanner::pageText()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QCOMPARE(PageScanner::pageText(body), text);
}

void TestPageScanner::scan_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<PageKind>("kind");
    QTest::addColumn<QStringList>("voices");
    QTest::addColumn<QStringList>("links");

    const QString art = QStringLiteral("http://mp.weixin.qq.com/s/");
    QTest::newRow("empty page") << QString() << PageKind::Empty << QStringList() << QStringList();
    QTest::newRow("marker in other letter case is a link page")
        << QStringLiteral("<mpvoice class=\"AUDIO_IFRAME\" name=\"a\" voice_encode_fileid=\"b\">")
        << PageKind::Link << QStringList() << QStringList();
    QTest::newRow("three entries in page order")
        << QStringLiteral("audio_iframe <mpvoice x name=\"一\" y voice_encode_fileid=\"A1\"></mpvoice>"
                          "<mpvoice x name=\"二\" y voice_encode_fileid=\"B2\"></mpvoice>"
                          "<mpvoice x name=\"三\" y voice_encode_fileid=\"C3\"></mpvoice>")
        << PageKind::Voice << QStringList{"一|A1", "二|B2", "三|C3"} << QStringList();
    QTest::newRow("voice page without entries")
        << QStringLiteral("<div class=\"audio_iframe\">voice_encode_fileid=\"x\"</div>") << PageKind::Voice
        << QStringList() << QStringList();
    // Across line breaks QRegExp gives the name capture the longest span that
    // still leaves the shortest whole match.
    QTest::newRow("entry across line breaks")
        << QStringLiteral("<mpvoice\r\n\tclass=\"audio_iframe\"\r\n\tname=\"第一章 山门\"\r\n\tplay_length=\"1\"\r\n"
                          "\tvoice_encode_fileid=\"MzIw==\"></mpvoice>")
        << PageKind::Voice << QStringList{"第一章 山门\"\r\n\tplay_length=\"1|MzIw=="} << QStringList();
    // The same split on one line: after the last quote before the file id
    // nothing is left for the pattern's ".+", so the name ends at its quote.
    QTest::newRow("name ends at its own quote when the next one cannot end it")
        << QStringLiteral("<mpvoice class=\"audio_iframe\" name=\"Opening.mp3\" play_length=\"1\" "
                          "voice_encode_fileid=\"MzIw==\"></mpvoice>")
        << PageKind::Voice << QStringList{"Opening.mp3|MzIw=="} << QStringList();
    QTest::newRow("name needs whitespace before it")
        << QStringLiteral("<mpvoice audio_iframe src=\"a&amp;name=\"x\" voice_encode_fileid=\"b\">")
        << PageKind::Voice << QStringList() << QStringList();
    QTest::newRow("names and identifiers are not decoded")
        << QStringLiteral("<mpvoice audio_iframe name=\"A&amp;B\" src=\"s\" voice_encode_fileid=\"x&lt;y\">")
        << PageKind::Voice << QStringList{"A&amp;B|x&lt;y"} << QStringList();
    QTest::newRow("anchor across line breaks")
        << QStringLiteral("<a\nhref=\"%1abc\"\n><span style=\"a;\">\nT\n</span></a>").arg(art) << PageKind::Link
        << QStringList() << QStringList{"http://mp.weixin.qq.com/s/abc|\nT\n"};
    QTest::newRow("match spans two elements and the first href decides")
        << QStringLiteral("<a href=\"javascript:;\">账号</a> <a href=\"%1x\"><span style=\"a;\">T</span></a>"
                          "<a href=\"%1y\"><span style=\"a;\">U</span></a>")
               .arg(art)
        << PageKind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/y|U"};
    QTest::newRow("href without http is rejected")
        << QStringLiteral("<a href=\"/s/relative\" data=\"%1x\"><span style=\"a;\">T</span></a>").arg(art)
        << PageKind::Link << QStringList() << QStringList();
    QTest::newRow("https host does not match")
        << QStringLiteral("<a href=\"https://mp.weixin.qq.com/s/x\"><span style=\"a;\">T</span></a>")
        << PageKind::Link << QStringList() << QStringList();
    QTest::newRow("dots of the host match any character")
        << QStringLiteral("<a href=\"http://mpXweixin-qq_com/s/x\"><span style=\"a;\">T</span></a>")
        << PageKind::Link << QStringList() << QStringList{"http://mpXweixin-qq_com/s/x|T"};
    QTest::newRow("&amp;amp; is replaced in a single pass")
        << QStringLiteral("<a href=\"%1?a=1&amp;amp;b=2\"><span style=\"a;\">T</span></a>").arg(art)
        << PageKind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/?a=1&amp;b=2|T"};
    QTest::newRow("#wechat_redirect removed anywhere")
        << QStringLiteral("<a href=\"%1?x#wechat_redirect&amp;y=1#wechat_redirect\"><span style=\"a;\">T</span></a>")
               .arg(art)
        << PageKind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/?x&y=1|T"};
    QTest::newRow("no semicolon-quote-bracket gives an empty title")
        << QStringLiteral("<a href=\"%1x\" target=\"_blank\"><img src=\"p.jpg\"></a>").arg(art) << PageKind::Link
        << QStringList() << QStringList{"http://mp.weixin.qq.com/s/x|"};
    QTest::newRow("spaces and &nbsp; removed, tabs and other entities kept")
        << QStringLiteral("<a href=\"%1x\"><span style=\"a;\"> a\tb&nbsp;c&lt; d\u00a0e </span></a>").arg(art)
        << PageKind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/x|a\tbc&lt;d\u00a0e"};
    QTest::newRow("&nbsp; removal can complete the title head")
        << QStringLiteral("<a href=\"%1x\"><span style=\"a;&nbsp;\">T</span></a>").arg(art) << PageKind::Link
        << QStringList() << QStringList{"http://mp.weixin.qq.com/s/x|T"};
    QTest::newRow("no href at all")
        << QStringLiteral("<a data=\"%1x\"><span style=\"a;\">T</span></a>").arg(art) << PageKind::Link
        << QStringList() << QStringList();
    QTest::newRow("same article twice")
        << QStringLiteral("<a href=\"%1x\"><span style=\"a;\">T</span></a><a href=\"%1x\"><span style=\"a;\">T</span></a>")
               .arg(art)
        << PageKind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/x|T", "http://mp.weixin.qq.com/s/x|T"};
}

void TestPageScanner::scan()
{
    QFETCH(QString, page);
    QFETCH(PageKind, kind);
    QFETCH(QStringList, voices);
    QFETCH(QStringList, links);

    const Result r = PageScanner::scan(page, kHost);
    QCOMPARE(r.kind, kind);
    QCOMPARE(voiceRows(r), voices);
    QCOMPARE(linkRows(r), links);
    QCOMPARE(trace<Fast>(page), trace<Oracle>(page));
}

void TestPageScanner::articleHost_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("host");
    QTest::newRow("built-in") << "https://mp.weixin.qq.com/s/" << "mp.weixin.qq.com";
    QTest::newRow("loopback with port") << "https://127.0.0.1:4433/s/" << "127.0.0.1:4433";
}

void TestPageScanner::articleHost()
{
    QFETCH(QString, base);
    QFETCH(QString, host);
    QCOMPARE(PageScanner::articleHost(base), host);
}

void TestPageScanner::hostWithPatternCharacters_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("page");
    QTest::newRow("plus") << "a+b.cn" << "<a href=\"http://aab.cn/s/1\">x</a><a href=\"http://a+b.cn/s/2\">y</a>";
    QTest::newRow("brackets") << "[::1]:8443" << "<a href=\"http://:8443/s/1\">x</a><a href=\"http://[::1]:8443/s/2\">y</a>";
}

void TestPageScanner::hostWithPatternCharacters()
{
    // The host goes into the pattern unescaped, so its pattern characters
    // act as such; the scanner then leaves the search to QRegExp itself.
    QFETCH(QString, host);
    QFETCH(QString, page);
    for (int from = 0; from < page.size(); ++from) {
        const Match fast = PageScanner::findAnchor(page, from, host);
        const Match reference = RegExpOracle::findAnchor(page, from, host);
        QCOMPARE(describe(fast), describe(reference));
    }
}

void TestPageScanner::samePagesAsQRegExp()
{
    const unsigned seed = qEnvironmentVariableIsSet("SCAN_SEED") ? qEnvironmentVariableIntValue("SCAN_SEED") : 20261207u;
    const int pages = qEnvironmentVariableIsSet("SCAN_PAGES") ? qEnvironmentVariableIntValue("SCAN_PAGES") : 300000;
    for (int i = 0; i < pages; ++i) {
        std::mt19937 rng(seed + unsigned(i));
        const QVector<int> tokens = generate(rng);
        const QString page = render(tokens);
        if (!differs(page))
            continue;
        const QString smallest = shrink(tokens);
        const QString message = QStringLiteral("seed %1 differs; smallest page: \"%2\"\nscanner:\n%3\nQRegExp:\n%4")
                                    .arg(seed + unsigned(i))
                                    .arg(escaped(smallest), escaped(trace<Fast>(smallest)),
                                         escaped(trace<Oracle>(smallest)));
        QFAIL(qPrintable(message));
    }
}

void TestPageScanner::readPage_data()
{
    using Kind = PageClassifier::Page::Kind;
    using SamplePages::Notice;
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("address"); // where the page came from in the end
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("voices");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("words"); // the notice, or a voice page's title
    QTest::addColumn<int>("warnings");

    const QString article = QStringLiteral("https://mp.weixin.qq.com/s/AbCdEfGhIjKlMnOpQrStUv");
    const QString opened = article;
    const QString id1 = QStringLiteral("MzIwMDAwMDAwMF8yMjQ3MDAwMDAx");
    const QString id2 = QStringLiteral("MzIwMDAwMDAwMF8yMjQ3MDAwMDAy");
    const auto today = [](const QString &body, int size = 200 * 1024) {
        return SamplePages::todayPage(QStringLiteral("睡前读书"), SamplePages::filler(3000) + body + SamplePages::filler(3000, 2), size);
    };

    QTest::newRow("today's voice page, 2.5 MB")
        << today(SamplePages::todayClip({"【第3讲】一段朗读&amp;nbsp;上 ", id1}), 2500 * 1024) << opened << Kind::Voice
        << QStringList{"【第3讲】一段朗读 上|" + id1} << QStringList() << "睡前读书" << 0;
    QTest::newRow("two clips among a music card, Channels audio and a repeat")
        << today(SamplePages::todayClip({"第一段", id1})
                 + "<mp-common-qqmusic musicid=\"001\" albumurl=\"/a.jpg\" name=\"歌\"></mp-common-qqmusic>"
                 + "<mp-common-claudio data-id=\"7\" listen_id=\"8\" name=\"频道\"></mp-common-claudio>"
                 + "<mpvoice name=\"没有标识\"></mpvoice>" + SamplePages::todayClip({"又一次", id1})
                 + "<MPVOICE voice_encode_fileid = 'MzIwMDAwMDAwMF8yMjQ3MDAwMDAy&#61;&#61;' frameborder=\"0\"\n"
                   "\tname=''></MPVOICE>")
        << opened << Kind::Voice << QStringList{"第一段|" + id1, "音频 2|" + id2 + "=="} << QStringList() << "睡前读书" << 0;
    QTest::newRow("a clip whose identifier cannot go into an address")
        << today("<mpvoice name=\"坏\" voice_encode_fileid=\"Mz&quot;&gt;&lt;x\"></mpvoice>"
                 + SamplePages::todayClip({"好", id2}))
        << opened << Kind::Voice << QStringList{"好|" + id2} << QStringList() << "睡前读书" << 1;
    QTest::newRow("clips in a comment, a style or a textarea are not clips")
        << today("<!-- " + SamplePages::todayClip({"注释", id1}) + " --><style>mpvoice{} <mpvoice voice_encode_fileid=\"A\">"
                 "</style><textarea><mpvoice voice_encode_fileid=\"B\"></textarea>")
        << opened << Kind::Link << QStringList() << QStringList() << QString() << 0;
    QTest::newRow("the only <mpvoice in a script's pattern: a link page")
        << QByteArray("<html><body><script>var re = /<mpvoice[^>]*voice_encode_fileid=\"([^\"]+)\"/g;</script >"
                      "<div id=\"js_content\"><a href=\"https://mp.weixin.qq.com/s/Xy\">下一篇</a></div></body></html>")
        << opened << Kind::Link << QStringList() << QStringList{"https://mp.weixin.qq.com/s/Xy|下一篇"} << QString() << 0;
    const QString long1 = QStringLiteral("https://mp.weixin.qq.com/s?__biz=MzIw&amp;mid=22&amp;idx=1&amp;sn=01ab#wechat_redirect");
    QTest::newRow("https links, image cards and repeats")
        << today(SamplePages::todayAnchor({long1, "一篇文章的标题"}) + SamplePages::imageCard(long1)
                 + SamplePages::imageCard("https://mp.weixin.qq.com/s/Card22222") + "<a href=\"" + article
                 + "#anchor\" textvalue=\"只有 textvalue\"></a><a href=\"http://mp.weixin.qq.com/s/Old\">旧&nbsp;\n 式</a>"
                 + "<a href=\"https://mp.weixin.qq.com.evil.cn/s/x\">外</a><a href=\"https://mp.weixin.qq.com/mp/profile_ext\">号</a>"
                 + "<a href=\"javascript:;\">关注</a><a href=\"https://mp.weixin.qq.com/s\">空</a><a href=\"https://mp.weixin.qq.com/s/\">空</a><a href=\"https://mp.weixin.qq.com/s/Bare\"></a>")
        << opened << Kind::Link << QStringList()
        << QStringList{"https://mp.weixin.qq.com/s?__biz=MzIw&mid=22&idx=1&sn=01ab|一篇文章的标题",
                       "https://mp.weixin.qq.com/s/Card22222|图片", article + "|只有 textvalue",
                       "http://mp.weixin.qq.com/s/Old|旧 式",
                       "https://mp.weixin.qq.com/s/Bare|https://mp.weixin.qq.com/s/Bare"}
        << QString() << 0;
    QTest::newRow("a link page the patterns read stays as they read it")
        << SamplePages::linkPage("目录", {{"http://mp.weixin.qq.com/s/Old", "旧 式"}}, {0, false}) + SamplePages::todayClip({"不算", id1}).toUtf8()
        << opened << Kind::Link << QStringList() << QStringList{"http://mp.weixin.qq.com/s/Old|旧式"} << QString() << 0;
    QTest::newRow("a 2016 page with the marker stays as the patterns read it")
        << SamplePages::voicePage("卷一", {{"A&amp;B", "MzIw"}}) + SamplePages::todayClip({"不算", id1}).toUtf8() << opened
        << Kind::Voice << QStringList{"A&amp;B|MzIw"} << QStringList() << "卷一" << 0;
    QTest::newRow("the marker without the entry the pattern needs")
        << QByteArray("<div class=\"audio_iframe\">") + SamplePages::todayClip({"今", id1}).toUtf8() << opened << Kind::Voice
        << QStringList{"今|" + id1} << QStringList() << QString() << 0;
    QTest::newRow("an article that quotes a notice's heading is an article")
        << today("<div class=\"weui-msg__title\">该内容已被发布者删除</div>") << opened << Kind::Link << QStringList()
        << QStringList() << QString() << 0;
    QTest::newRow("a tag that never ends") << QByteArray("<p><a href=\"https://mp.weixin.qq.com/s/Ok\">好</a>"
                                                         "<mpvoice name=\"a\" voice_encode_fileid=\"MzIw\"")
                                           << opened << Kind::Link << QStringList()
                                           << QStringList{"https://mp.weixin.qq.com/s/Ok|好"} << QString() << 0;
    QTest::newRow("an attribute that never ends, an anchor that never closes")
        << QByteArray("<a href=\"https://mp.weixin.qq.com/s/Ok\"><b>未完</b> <mpvoice name=\"a voice_encode_fileid=\"MzIw\">")
        << opened << Kind::Link << QStringList() << QStringList{"https://mp.weixin.qq.com/s/Ok|未完"} << QString() << 0;
    QTest::newRow("deleted") << SamplePages::noticePage(Notice::Deleted) << opened << Kind::NoArticle << QStringList()
                             << QStringList() << "该内容已被发布者删除" << 0;
    QTest::newRow("banned") << SamplePages::noticePage(Notice::Banned) << opened << Kind::NoArticle << QStringList()
                            << QStringList() << "此内容因违规无法查看" << 0;
    QTest::newRow("unavailable") << SamplePages::noticePage(Notice::Unavailable) << opened << Kind::NoArticle
                                 << QStringList() << QStringList() << "该内容暂时无法查看" << 0;
    QTest::newRow("sent to the verification")
        << SamplePages::noticePage(Notice::Captcha)
        << "https://mp.weixin.qq.com/mp/wappoc_appmsgcaptcha?poc_token=x&target_url=" + QString::fromLatin1(QUrl::toPercentEncoding(article))
        << Kind::NoArticle << QStringList() << QStringList() << "需要验证" << 0;
    QTest::newRow("the verification heading where it was opened") << SamplePages::noticePage(Notice::Captcha) << opened
                                                                   << Kind::NoArticle << QStringList() << QStringList()
                                                                   << "环境异常" << 0;
    QTest::newRow("a page that only loads the verification") << SamplePages::noticePage(Notice::VerifyScript) << opened
                                                             << Kind::NoArticle << QStringList() << QStringList()
                                                             << "需要验证" << 0;
}

void TestPageScanner::readPage()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, address);
    QFETCH(PageClassifier::Page::Kind, kind);
    QFETCH(QStringList, voices);
    QFETCH(QStringList, links);
    QFETCH(QString, words);
    QFETCH(int, warnings);

    PageScanner::Result read;
    const PageClassifier::Page p = PageClassifier::classify(PageScanner::pageText(page), kHost, QUrl(address));
    read.voices = p.voices;
    read.links = p.links;
    QCOMPARE(p.kind, kind);
    QCOMPARE(voiceRows(read), voices);
    QCOMPARE(linkRows(read), links);
    QCOMPARE(kind == PageClassifier::Page::Kind::Voice ? p.title : p.notice, words);
    QVERIFY2(p.warnings.size() == warnings, qPrintable(p.warnings.join(QLatin1Char('\n'))));
}

void TestPageScanner::articleTitle_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("title");
    const QString og = QStringLiteral("<meta property=\"og:title\" content=\"%1\" />");
    QTest::newRow("og:title before <title>")
        << "<html><head><title>网页标题</title>" + og.arg("文章标题") + "</head>" << "文章标题";
    QTest::newRow("content before property")
        << "<title>网页标题</title><meta content='文章标题' property='og:title'>" << "文章标题";
    QTest::newRow("other meta first")
        << "<meta property=\"og:description\" content=\"摘要\"><meta name=\"og:title\" content=\"名\">" << "名";
    QTest::newRow("<title> without og:title") << "<head><title>第一章 山门</title></head>" << "第一章 山门";
    QTest::newRow("empty og:title falls back") << og.arg("") + "<title lang=\"zh\">后备</title>" << "后备";
    QTest::newRow("entities decoded")
        << og.arg("A &amp; B &lt;3&gt; &#20013;&#x6587; &quot;q&quot; &#39;s&apos; &copy; &#0; a&b") << "A & B <3> 中文 \"q\" 's' &copy; &#0; a&b";
    QTest::newRow("character beyond the basic plane") << "<title>&#128266; &#x1F3A7;</title>"
                                                  << QString::fromUtf8("\xF0\x9F\x94\x8A \xF0\x9F\x8E\xA7");
    QTest::newRow("whitespace runs and ends") << "<title>\r\n\t 卷一 \n  第二回&nbsp;&nbsp;</title>" << "卷一 第二回";
    QTest::newRow("at most 200 characters") << "<title>" + QString(300, QChar(0x957f)) + "</title>" << QString(200, QChar(0x957f));
    QTest::newRow("no surrogate half at the cut")
        << "<title>" + QString(199, QLatin1Char('a')) + QString::fromUtf8("\xf0\x9f\x8e\xa7") + "</title>" << QString(199, QLatin1Char('a'));
    QTest::newRow("<titlebar> is not a title") << "<titlebar>不是</titlebar><title>是</title>" << "是";
    QTest::newRow("no title at all") << "<html><body><p>正文</p></body></html>" << "";
    QTest::newRow("unclosed <title>") << "<title>没有结尾" << "";
    QTest::newRow("sample article page") << QString::fromUtf8(SamplePages::voicePage("修仙 第三卷", {{"一", "A"}}, {20000}))
                                         << "修仙 第三卷";
}

void TestPageScanner::articleTitle()
{
    QFETCH(QString, page);
    QFETCH(QString, title);
    QCOMPARE(PageReader::articleTitle(page), title);
}

void TestPageScanner::linearTime_data()
{
    // What a page of `n` units reads as, and what must be true of it.
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<int>("units"); // in the smaller page; the larger has ten times as many
    QTest::addColumn<int>("voices"); // in the larger page
    QTest::addColumn<int>("links");
    QTest::addColumn<QString>("title");
    // A reader that searched the rest of the page again from each unit
    // would take hours.
    QTest::newRow("meta tags that are not the title, <titles>, meta tags without end")
        << "<meta property=\"og:site\" content=\"x\"><titles>" << QStringLiteral("<meta ").repeated(20000) << 4000 << 0 << 0
        << "";
    QTest::newRow("a title of lone ampersands") << "&" << "</title>" << 400000 << 0 << 0 << QString(200, QLatin1Char('&'));
    QTest::newRow("100,000 voice elements") << "<mpvoice name=\"n\" voice_encode_fileid=\"MzIw%1\"></mpvoice>" << ""
                                            << 10000 << PageReader::kMostEntries << 0 << "";
    QTest::newRow("200,000 article links")
        << "<a href=\"https://mp.weixin.qq.com/s/A%1\">题</a>" << "" << 20000 << 0 << PageReader::kMostEntries << "";
    QTest::newRow("30 MB of <a href=") << "<a href=" << "" << 375000 << 0 << 0 << "";
    QTest::newRow("30 MB of an attribute that never ends") << "<a href=\"https://mp.weixin.qq.com/s/X\" title=\"x"
                                                           << "" << 1 << 0 << 0 << "";
}

void TestPageScanner::linearTime()
{
    QFETCH(QString, unit);
    QFETCH(QString, tail);
    QFETCH(int, units);
    QFETCH(int, voices);
    QFETCH(int, links);
    QFETCH(QString, title);

    const auto page = [&](int n) {
        QString text = unit == QLatin1String("&") ? QStringLiteral("<title>") : QString();
        if (!unit.contains(QLatin1String("%1")))
            return text + unit.repeated(n) + (units == 1 ? QString(3000000 * n, QLatin1Char('x')) : QString()) + tail;
        for (int i = 0; i < n; ++i)
            text += unit.arg(i);
        return text + tail;
    };
    // The reading's speed, and how it grows with the page, is the scanner
    // benchmark's to measure; a reader that searched the rest of the page
    // again from each unit would not end within the test's time.
    const QString large = page(units * 10);
    const PageClassifier::Page read = PageClassifier::classify(large, kHost, QUrl());
    QCOMPARE(read.voices.size(), voices);
    QCOMPARE(read.links.size(), links);
    QCOMPARE(read.warnings.size(), voices + links > 0 ? 1 : 0);
    QCOMPARE(PageReader::articleTitle(large), title);
}

QTEST_GUILESS_MAIN(TestPageScanner)
#include "tst_pagescanner.moc"
