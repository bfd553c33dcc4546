#include "logcapture.h"
#include "samplepages.h"
#include "windowfixture.h"

#include <QtTest>

using SamplePages::Clip;
using SamplePages::Link;

// Pages fetched over real HTTPS from a loopback server, through the window.
class TestRequests : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void voicePageFillsClipList_data();
    void voicePageFillsClipList();
    void voicePageWithoutEntries();
    void linkPageLeavesVoicePairAlone();
    void lastFinishedReplyWins();
    void emptyBodyOnlyEmptiesPageText();
    void failedFetchKeepsWhatTheUserSees_data();
    void failedFetchKeepsWhatTheUserSees();
    void safeRedirectIsFollowed();
    void handledRepliesAreReleased();

private:
    void loadLinksThenVoices();

    std::unique_ptr<WindowFixture> f;
    std::unique_ptr<LogCapture> log;
    TestServer untrusted{TestServer::Scheme::Https, nullptr, TestServer::Certificate::Untrusted};
    const QVector<Clip> threeClips{{"第一章 山门", "MzIwMDAwMDAwMF8yODAwMDAwMDAx"},
                                   {"0623", "MzIwMDAwMDAwMF8yODAwMDAwMDAy"},
                                   {"Opening.mp3", "MzIwMDAwMDAwMF8yODAwMDAwMDAz"}};
};

void TestRequests::init()
{
    f = std::make_unique<WindowFixture>();
    log = std::make_unique<LogCapture>();
    QVERIFY(untrusted.isListening() || untrusted.start());
}

void TestRequests::cleanup()
{
    log.reset();
    f.reset();
}

void TestRequests::voicePageFillsClipList_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QStringList>("debug");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("a page of 2018")
        << SamplePages::voicePage("卷一", threeClips, {300000})
        << QStringList{"true", "0 ( \"第一章 山门\" ),( \"MzIwMDAwMDAwMF8yODAwMDAwMDAx\" )",
                       "1 ( \"0623\" ),( \"MzIwMDAwMDAwMF8yODAwMDAwMDAy\" )",
                       "2 ( \"Opening.mp3\" ),( \"MzIwMDAwMDAwMF8yODAwMDAwMDAz\" )"}
        << QStringList{"第一章 山门", "0623", "Opening.mp3"}
        << QStringList{"MzIwMDAwMDAwMF8yODAwMDAwMDAx", "MzIwMDAwMDAwMF8yODAwMDAwMDAy", "MzIwMDAwMDAwMF8yODAwMDAwMDAz"};
    QTest::newRow("a page of today, 2.5 MB")
        << SamplePages::todayPage("睡前读书", SamplePages::filler(20000)
                                                 + SamplePages::todayClip({"【第3讲】一段朗读&amp;nbsp;上", "MzIwMF8yMjQ3MDAwMDAx"})
                                                 + SamplePages::filler(20000, 2))
        << QStringList{"true", "0 ( \"【第3讲】一段朗读 上\" ),( \"MzIwMF8yMjQ3MDAwMDAx\" )"}
        << QStringList{"【第3讲】一段朗读 上"} << QStringList{"MzIwMF8yMjQ3MDAwMDAx"};
}

void TestRequests::voicePageFillsClipList()
{
    QFETCH(QByteArray, page);
    QFETCH(QStringList, debug);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, ids);
    f->pages.setPage(QStringLiteral("/s/first"), page);

    // Record what the pane was told at the moment each row arrives.
    QStringList urlAtRow;
    QObject::connect(f->voices()->model(), &QAbstractItemModel::rowsInserted, f->window.get(),
                     [&] { urlAtRow.append(f->pane()->url()); });
    QSignalSpy mediaChanges(f->session.playback(), &Playback::sourceChanged);

    QVERIFY(f->fetchArticle(0));
    QCOMPARE(f->pages.requests(), QStringList{"/s/first"});
    QCOMPARE(log->debugLines(), debug);
    for (const LogCapture::Entry &e : log->entries())
        QVERIFY2(e.emptyContext && e.category == QLatin1String("default"), qPrintable(e.message));

    QCOMPARE(WindowFixture::rows(f->voices()), rows);
    QCOMPARE(f->window->currentVoiceIds(), ids);
    const QString first = f->clipAddress(ids.first());
    for (const QString &url : qAsConst(urlAtRow))
        QCOMPARE(url, first);
    QCOMPARE(urlAtRow.size(), rows.size());
    QCOMPARE(mediaChanges.count(), 1);
    QCOMPARE(f->links()->count(), 0);
    QVERIFY(f->window->currentLinkUrls().isEmpty());
    QCOMPARE(f->window->currentPageText().toUtf8(), page);
    // As a browser asks for it from the article.
    const QString clipPath = QStringLiteral("/voice/getvoice?mediaid=") + ids.first();
    QTRY_COMPARE(f->clips.requestHeader(clipPath, "Referer"), QByteArray("https://mp.weixin.qq.com/"));
}

void TestRequests::loadLinksThenVoices()
{
    f->showLinksAndClips(threeClips);
    log->clear();
}

void TestRequests::voicePageWithoutEntries()
{
    loadLinksThenVoices();
    f->pages.setPage(QStringLiteral("/s/third"), "<div class=\"audio_iframe\">voice_encode_fileid</div>");
    QSignalSpy mediaChanges(f->session.playback(), &Playback::sourceChanged);
    QVERIFY(f->fetchArticle(2));
    QCOMPARE(log->debugLines(), QStringList{"true"});
    QCOMPARE(f->voices()->count(), 0);
    QVERIFY(f->window->currentVoiceIds().isEmpty());
    QCOMPARE(mediaChanges.count(), 0);
    QCOMPARE(WindowFixture::rows(f->links()), (QStringList{"甲", "乙"}));
}

void TestRequests::linkPageLeavesVoicePairAlone()
{
    loadLinksThenVoices();
    f->pages.setPage(QStringLiteral("/s/third"),
                     SamplePages::linkPage("目录二", {{f->articleLink("b1"), "丙"}}, {200000, false, true}));
    QSignalSpy mediaChanges(f->session.playback(), &Playback::sourceChanged);
    QVERIFY(f->fetchArticle(2));
    QCOMPARE(log->debugLines(), QStringList{"false"});
    QCOMPARE(WindowFixture::rows(f->links()), QStringList{"丙"});
    QCOMPARE(f->window->currentLinkUrls(), QStringList{f->articleLink("b1")});
    QCOMPARE(f->voices()->count(), 3);
    QCOMPARE(f->window->currentVoiceIds().size(), 3);
    QCOMPARE(mediaChanges.count(), 0);
}

void TestRequests::lastFinishedReplyWins()
{
    TestServer::Response slow = TestServer::ok(SamplePages::voicePage("慢", {{"slow", "SLOW"}}));
    slow.delayMs = 1500;
    f->pages.setResponse(QStringLiteral("/s/first"), slow);
    f->pages.setPage(QStringLiteral("/s/second"), SamplePages::voicePage("快", {{"fast", "FAST"}}));

    QSignalSpy finished(f->manager(), &QNetworkAccessManager::finished);
    const auto busy = [&] {
        return f->window->testAttribute(Qt::WA_SetCursor) && f->window->cursor().shape() == Qt::BusyCursor;
    };
    WindowFixture::click(f->articles(), 0);
    WindowFixture::click(f->articles(), 1);
    QVERIFY(busy());
    // The quick one is shown; the window is still busy with the other.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"fast"});
    QVERIFY(busy());
    QCOMPARE(f->pane()->statusText(), QStringLiteral("正在打开…"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
    QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"slow"});
    QCOMPARE(f->window->currentVoiceIds(), QStringList{"SLOW"});
    QVERIFY(f->window->currentPageText().contains(QLatin1String("SLOW")));
    QCOMPARE(f->pane()->url(), f->clipAddress(QStringLiteral("SLOW")));
    QVERIFY(!busy());
    QTRY_COMPARE(f->pane()->statusText(), QStringLiteral("slow"));

    // A failure while another fetch is under way: it is shown at once, and
    // the window stays busy until the other one ends.
    WindowFixture::click(f->articles(), 0);
    WindowFixture::click(f->articles(), 2); // nothing there: 404
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, 10000);
    QCOMPARE(f->pane()->statusText(), QStringLiteral("无法打开文章：HTTP 状态 404"));
    QVERIFY(busy());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 4, 10000);
    QVERIFY(!busy());
}

void TestRequests::emptyBodyOnlyEmptiesPageText()
{
    loadLinksThenVoices();
    QVERIFY(!f->window->currentPageText().isEmpty());
    f->pages.setPage(QStringLiteral("/s/third"), QByteArray());
    QVERIFY(f->fetchArticle(2));
    QVERIFY(f->window->currentPageText().isEmpty());
    QVERIFY(log->entries().isEmpty());
    QCOMPARE(f->links()->count(), 2);
    QCOMPARE(f->voices()->count(), 3);
}

void TestRequests::failedFetchKeepsWhatTheUserSees_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // shown in the window
    QTest::newRow("400") << "400" << "HTTP 状态 400";
    QTest::newRow("404") << "404" << "HTTP 状态 404";
    QTest::newRow("500") << "500" << "HTTP 状态 500";
    QTest::newRow("refused connection") << "refused" << "无法连接服务器";
    QTest::newRow("untrusted certificate") << "tls" << "证书不受信任";
    QTest::newRow("closed mid-body") << "midbody" << "连接中断";
    QTest::newRow("redirect to plain http") << "insecure-redirect" << "重定向被拒绝";
    // The host's own pages that say there is no article.
    QTest::newRow("deleted") << "notice0" << "该内容已被发布者删除";
    QTest::newRow("banned") << "notice1" << "此内容因违规无法查看";
    QTest::newRow("unavailable") << "notice2" << "该内容暂时无法查看";
    QTest::newRow("sent to the verification") << "notice3" << "需要验证";
    QTest::newRow("only loads the verification") << "notice4" << "需要验证";
}

void TestRequests::failedFetchKeepsWhatTheUserSees()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    QString target;
    if (kind == QLatin1String("404")) {
        target = f->articleLink(QStringLiteral("missing"));
    } else if (kind == QLatin1String("500") || kind == QLatin1String("400")) {
        TestServer::Response r = TestServer::ok("<html><a href=\"http://x/s/1\">x</a></html>");
        r.status = kind.toInt();
        f->pages.setResponse(QStringLiteral("/s/broken"), r);
        target = f->articleLink(QStringLiteral("broken"));
    } else if (kind == QLatin1String("refused")) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        target = QStringLiteral("http://127.0.0.1:%1/s/x").arg(closed.serverPort());
    } else if (kind == QLatin1String("tls")) {
        untrusted.setPage(QStringLiteral("/s/x"), "<html>audio_iframe</html>");
        target = QStringLiteral("http://%1/s/x").arg(untrusted.authority());
    } else if (kind == QLatin1String("midbody")) {
        TestServer::Response r = TestServer::ok(SamplePages::linkPage("断", {{f->articleLink("z"), "z"}}, {100000}));
        r.closeMidBody = true;
        f->pages.setResponse(QStringLiteral("/s/cut"), r);
        target = f->articleLink(QStringLiteral("cut"));
    } else if (kind.startsWith(QLatin1String("notice"))) {
        const auto notice = SamplePages::Notice(kind.back().digitValue());
        target = f->articleLink(QStringLiteral("gone"));
        QString path = QStringLiteral("/s/gone");
        if (notice == SamplePages::Notice::Captcha) {
            path = QStringLiteral("/mp/wappoc_appmsgcaptcha?poc_token=x&target_url=gone");
            TestServer::Response r = TestServer::ok("<html>moved</html>");
            r.status = 302;
            r.headers.append({"Location", path.toUtf8()});
            f->pages.setResponse(QStringLiteral("/s/gone"), r);
        }
        f->pages.setPage(path, SamplePages::noticePage(notice));
    } else {
        TestServer::Response r = TestServer::ok("<html>moved</html>");
        r.status = 301;
        r.headers.append({"Location", QStringLiteral("http://%1/s/first").arg(f->pages.authority()).toUtf8()});
        f->pages.setResponse(QStringLiteral("/s/moved"), r);
        target = f->articleLink(QStringLiteral("moved"));
    }

    // The failing address sits in the link list, next to a good one; the
    // anchor text carries the page server's article address so it is found.
    const QString anchor = QStringLiteral("<a href=\"%1\" data-src=\"%2\"><span style=\"a;\">坏</span></a>\n")
                               .arg(target, f->articleLink(QStringLiteral("ok")));
    f->pages.setPage(QStringLiteral("/s/second"), ("<html><body>" + anchor + "</body></html>").toUtf8());
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", threeClips));
    QVERIFY(f->fetchArticle(1));
    QVERIFY(f->fetchArticle(0));
    QCOMPARE(f->window->currentLinkUrls(), QStringList{target});
    // The clip's own events replace the failure line: let it end first.
    QTRY_COMPARE_WITH_TIMEOUT(f->pane()->statusText(), QStringLiteral("播放完毕"), 15000);

    const QString pageBefore = f->window->currentPageText();
    const QString urlBefore = f->pane()->url();
    log->clear();
    QVERIFY(f->openLink(0));

    QCOMPARE(log->debugLines(), QStringList{"open url: \"" + target + "\""});
    QVERIFY2(log->warningLines().size() == 1, qPrintable(log->warningLines().join("\n")));
    QVERIFY2(log->warningLines().first().contains(QStringLiteral("/s/")), qPrintable(log->warningLines().first()));
    QCOMPARE(f->window->currentPageText(), pageBefore);
    QCOMPARE(WindowFixture::rows(f->links()), QStringList{"坏"});
    QCOMPARE(f->window->currentLinkUrls(), QStringList{target});
    QCOMPARE(f->voices()->count(), 3);
    QCOMPARE(f->pane()->url(), urlBefore);
    QCOMPARE(f->pane()->statusText(), "无法打开文章：" + reason);
    QVERIFY(f->pane()->statusToolTip().contains(QStringLiteral("/s/")));
}

void TestRequests::safeRedirectIsFollowed()
{
    TestServer::Response r = TestServer::ok("<html>moved</html>");
    r.status = 302;
    r.headers.append({"Location", (f->pages.baseUrl() + QStringLiteral("/s/target")).toUtf8()});
    f->pages.setResponse(QStringLiteral("/s/first"), r);
    f->pages.setPage(QStringLiteral("/s/target"), SamplePages::voicePage("卷一", threeClips));
    QVERIFY(f->fetchArticle(0));
    QCOMPARE(f->pages.requests(), (QStringList{"/s/first", "/s/target"}));
    QCOMPARE(f->voices()->count(), 3);
    QVERIFY(log->warningLines().isEmpty());
}

void TestRequests::handledRepliesAreReleased()
{
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", threeClips));
    f->pages.setPage(QStringLiteral("/s/second"), SamplePages::linkPage("目录", {{f->articleLink("a1"), "甲"}}));
    QSignalSpy finished(f->manager(), &QNetworkAccessManager::finished);
    for (int i = 0; i < 200; ++i)
        WindowFixture::click(f->articles(), i % 2);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 200, 60000);
    QTRY_COMPARE(f->manager()->findChildren<QNetworkReply *>().size(), 0);
    QCOMPARE(f->pages.requests().size(), 200);
}

QTEST_MAIN(TestRequests)
#include "tst_requests.moc"
