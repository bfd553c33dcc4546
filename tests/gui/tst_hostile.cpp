#include "logcapture.h"
#include "samplepages.h"
#include "stallmeter.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtTest>

using SamplePages::Clip;

namespace {

// A "Vm..." figure of this process, in KiB.
qint64 memoryKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// AddressSanitizer keeps freed blocks in quarantine, so under it the
// peak resident size counts every buffer ever passed along, not what is
// held at once.
#ifdef BRIMWOLD_SANITIZE
constexpr bool kFreedMemoryStaysResident = true;
#else
constexpr bool kFreedMemoryStaysResident = false;
#endif

// Lets the kernel's peak resident size (VmHWM) start again from now.
bool resetPeakResident()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

// Servers that misbehave, pages that are huge or broken: the window keeps
// answering, and what the user was looking at survives every failure.
class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void thousandFetchesKeepNoReplies();
    void hostileServer_data();
    void hostileServer();

private:
    void checkStillServed();

    std::unique_ptr<WindowFixture> f;
    std::unique_ptr<LogCapture> log;
    TestServer untrusted{TestServer::Scheme::Https, nullptr, TestServer::Certificate::Untrusted};
    QStringList m_report;
    const QVector<Clip> clips{{"第一章", "MzAwMF8x"}, {"第二章", "MzAwMF8y"}};
};

void TestHostile::initTestCase()
{
    QVERIFY(untrusted.start());
}

void TestHostile::init()
{
    // Short limits, so that every limit is reached within seconds.
    f = std::make_unique<WindowFixture>(FetchLimits{16 * 1024 * 1024, 3000, 6000});
    f->session.playback()->setFetchLimits({16 * 1024 * 1024, 3000, 0});
    f->session.playback()->setRetries({{20, 40, 80, 160}, 2}); // a silent server is asked once more
    log = std::make_unique<LogCapture>();
}

void TestHostile::cleanup()
{
    log.reset();
    f.reset();
}

void TestHostile::cleanupTestCase()
{
    // Printed here, where no test captures the log.
    for (const QString &line : qAsConst(m_report))
        qInfo().noquote() << line;
}

void TestHostile::checkStillServed()
{
    // Lay out what the row left first: 100,000 links take seconds under the
    // sanitizers, and that must not count against this fetch's silence limit.
    QCoreApplication::processEvents();
    f->pages.setPage(QStringLiteral("/s/third"), SamplePages::voicePage("卷三", {{"后来", "MzAwMF85"}}));
    WindowFixture::click(f->articles(), 2);
    QTRY_VERIFY2_WITH_TIMEOUT(WindowFixture::rows(f->voices()) == QStringList{"后来"},
                              qPrintable(f->pane()->statusText() + QLatin1Char(' ') + f->pane()->statusToolTip()), 60000);
}

void TestHostile::hostileServer_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("keepsLists");
    QTest::addColumn<QString>("shown"); // how the pane's line begins afterwards [|the tooltip's first line]
    const QString busy = QStringLiteral("正在打开…");
    const QString tooLarge = QStringLiteral("无法打开文章：页面过大");
    const QString timedOut = QStringLiteral("无法打开文章：等待超时");
    QTest::newRow("never answers") << "silent" << true << busy;
    QTest::newRow("six never finish, then a click") << "hung" << true << busy;
    QTest::newRow("closes mid-body") << "midbody" << true << "无法打开文章：连接中断";
    QTest::newRow("50 MB page, over the limit") << "huge" << true << tooLarge + "|larger than 16777216 bytes";
    QTest::newRow("page of exactly the limit") << "limit" << false << "";
    QTest::newRow("compressed bomb") << "bomb" << true << tooLarge;
    QTest::newRow("endless body") << "endless" << true << tooLarge;
    QTest::newRow("one byte every 200 ms") << "drip" << true << timedOut + "|not finished after 6 s";
    QTest::newRow("head and body each 2 s late") << "late" << false << "";
    QTest::newRow("compressed page") << "gzip" << false << "";
    QTest::newRow("gzip as x-gzip") << "x-gzip" << false << "";
    QTest::newRow("two gzip members") << "gzip-members" << false << "";
    QTest::newRow("deflate with the zlib wrapper") << "deflate" << false << "";
    QTest::newRow("raw deflate") << "deflate-raw" << false << "";
    QTest::newRow("identity encoding") << "identity" << false << "";
    QTest::newRow("unknown encoding") << "br" << true << "无法打开文章：服务器应答无效|unknown content encoding br";
    QTest::newRow("compressed body cut short") << "gzip-cut" << true << "无法打开文章：服务器应答无效|compressed body cut short";
    QTest::newRow("broken compressed body") << "gzip-broken" << true << "无法打开文章：服务器应答无效|broken compressed body";
    QTest::newRow("100,000 anchors") << "anchors" << false << "";
    QTest::newRow("invalid UTF-8 and NUL") << "bytes" << false << "";
    QTest::newRow("redirect loop") << "redirect" << true << "无法打开文章：重定向被拒绝";
    QTest::newRow("multiple choices") << "300" << true << "无法打开文章：重定向被拒绝|redirect (HTTP 300) not followed";
    QTest::newRow("not HTTP at all") << "garbage" << true << "无法打开文章：连接中断";
    QTest::newRow("wrong certificate") << "tls" << true << "无法打开文章：证书不受信任";
    QTest::newRow("clip cannot be fetched") << "clip" << true << "无法播放此音频：无法读取音频";
    QTest::newRow("endless clip") << "clip-endless" << true << "无法播放此音频：音频过大";
    QTest::newRow("endless compressed clip") << "clip-endless-gzip" << true << "无法播放此音频：音频过大";
    QTest::newRow("endless empty gzip members") << "clip-endless-empty-gzip" << true << "无法播放此音频：音频过大";
    QTest::newRow("silent voice server") << "clip-silent" << true << "无法播放此音频：等待超时";
    QTest::newRow("broken clip") << "clip-broken" << true << "无法播放此音频：不支持此音频格式";
}

void TestHostile::hostileServer()
{
    QFETCH(QString, kind);
    QFETCH(bool, keepsLists);
    QFETCH(QString, shown);
    const QString detail = shown.section(QLatin1Char('|'), 1);
    shown = shown.section(QLatin1Char('|'), 0, 0);
    const QStringList compressed{"gzip", "x-gzip", "gzip-members", "deflate", "deflate-raw", "identity", "br", "gzip-cut", "gzip-broken"};
    f->showLinksAndClips(clips, 100000);
    const QStringList linksBefore = WindowFixture::rows(f->links());
    const QStringList voicesBefore = WindowFixture::rows(f->voices());
    const QString pageBefore = f->window->currentPageText();

    TestServer::Response r;
    QString path = QStringLiteral("/s/third");
    QString linkTarget; // fetched through a link instead of an article row
    if (kind == QLatin1String("silent")) {
        r.neverAnswer = true;
    } else if (kind == QLatin1String("midbody")) {
        r = TestServer::ok(SamplePages::linkPage("断", {{f->articleLink("z"), "z"}}, {2000000}));
        r.closeMidBody = true;
    } else if (kind == QLatin1String("huge")) {
        r = TestServer::ok(SamplePages::linkPage("巨", {{f->articleLink("big"), "大"}}, {50 * 1024 * 1024, false}));
    } else if (kind == QLatin1String("bomb")) {
        r = TestServer::ok(SamplePages::gzipBomb(1LL << 30));
        r.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    } else if (compressed.contains(kind)) {
        const QByteArray page = SamplePages::voicePage("压", {{"压缩", "WlpaWg=="}}, {3000000});
        const QByteArray gzipped = SamplePages::gzip(page);
        QByteArray body = gzipped;
        QByteArray encoding = "gzip";
        if (kind == QLatin1String("x-gzip"))
            encoding = "x-gzip";
        else if (kind == QLatin1String("gzip-members"))
            body = SamplePages::gzip(page.left(1000000)) + SamplePages::gzip(page.mid(1000000));
        else if (kind.startsWith(QLatin1String("deflate")))
            encoding = "deflate", body = SamplePages::deflate(page, kind == QLatin1String("deflate"));
        else if (kind == QLatin1String("identity") || kind == QLatin1String("br"))
            encoding = kind.toLatin1(), body = page;
        else if (kind == QLatin1String("gzip-cut"))
            body = gzipped.left(gzipped.size() / 2);
        else if (kind == QLatin1String("gzip-broken"))
            body = gzipped.left(10) + QByteArray(100, '\xff');
        r = TestServer::ok(body);
        r.headers.append(qMakePair(QByteArray("Content-Encoding"), encoding));
    } else if (kind == QLatin1String("limit")) {
        QByteArray page = SamplePages::voicePage("满", {{"满载", "TUFO"}}, {16 * 1024 * 1024 - 100000});
        page.append(16 * 1024 * 1024 - page.size(), ' ');
        r = TestServer::ok(page);
    } else if (kind == QLatin1String("late")) {
        // Never 3 s without a word, though 4 s in all.
        r = TestServer::ok(SamplePages::voicePage("迟", {{"迟到", "Q0hJ"}}));
        r.delayMs = 2000;
        r.pauseMs = 2000;
    } else if (kind == QLatin1String("300")) {
        r = TestServer::ok("<a href=\"http://mp.weixin.qq.com/s/a\">甲</a><a href=\"http://mp.weixin.qq.com/s/b\">乙</a>");
        r.status = 300;
    } else if (kind == QLatin1String("endless") || kind == QLatin1String("drip") || kind == QLatin1String("hung")) {
        r = TestServer::ok(SamplePages::filler(65536).toUtf8());
        r.endless = kind == QLatin1String("endless");
        r.dripMs = r.endless ? 0 : 200;
    } else if (kind == QLatin1String("anchors")) {
        QByteArray body = "<html><body>\n";
        body.reserve(100000 * 120);
        for (int i = 0; i < 100000; ++i)
            body += "<a href=\"" + f->articleLink(QString::number(i)).toUtf8() + "\"><span style=\"a;\">标题"
                + QByteArray::number(i) + "</span></a>\n";
        r = TestServer::ok(body + "</body></html>");
    } else if (kind == QLatin1String("bytes")) {
        QByteArray body = SamplePages::voicePage("坏", {{"一", "A1"}});
        body.insert(body.indexOf("<mpvoice"), "\xff\xfe\xc3(\xe4\xbf");
        body += QByteArray("\0", 1) + SamplePages::voiceElement({"二", "B2"}).toUtf8();
        r = TestServer::ok(body, "text/html; charset=utf-8");
    } else if (kind == QLatin1String("redirect")) {
        r.status = 302;
        r.headers.append({"Location", (f->pages.baseUrl() + path).toUtf8()});
    } else if (kind == QLatin1String("garbage")) {
        r.raw = true;
        static const char garbage[] = "\x00\xff<html>audio_iframe</html>\r\n\r\n";
        r.body = QByteArray(garbage, sizeof garbage - 1);
    } else if (kind == QLatin1String("tls")) {
        untrusted.setPage(QStringLiteral("/s/x"), SamplePages::voicePage("假", clips));
        linkTarget = QStringLiteral("http://%1/s/x").arg(untrusted.authority());
    } else {
        TestServer::Response clip;
        if (kind == QLatin1String("clip")) {
            clip.status = 404;
        } else if (kind.startsWith(QLatin1String("clip-endless"))) {
            QFile tone(qEnvironmentVariable("TEST_DATA_DIR") + QStringLiteral("/tone-a.mp3"));
            QVERIFY(tone.open(QIODevice::ReadOnly));
            clip = TestServer::ok(tone.readAll(), "audio/mpeg");
            if (kind.endsWith(QLatin1String("empty-gzip"))) {
                // Nothing ever comes out, so only what came in can end it.
                clip.body = SamplePages::gzip(QByteArray()).repeated(4096);
                clip.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
            } else if (kind.endsWith(QLatin1String("gzip"))) {
                // gzip members without end, each thirty times smaller than
                // what it inflates to.
                clip.body = SamplePages::gzip(clip.body.repeated(3) + QByteArray(1024 * 1024, '\0'));
                clip.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
            }
            clip.endless = true;
        } else if (kind == QLatin1String("clip-silent")) {
            clip.neverAnswer = true;
        } else {
            clip = TestServer::ok(QByteArray(200000, '\x5a') + QByteArray("\xff\xfb\x90\x00", 4).repeated(500), "audio/mpeg");
        }
        f->clips.setResponse(QStringLiteral("/voice/getvoice?mediaid=MzAwMF8y"), clip);
    }
    if (!linkTarget.isEmpty()) {
        const QString anchor = QStringLiteral("<a href=\"%1\" data-src=\"%2\"><span style=\"a;\">坏</span></a>")
                                   .arg(linkTarget, f->articleLink(QStringLiteral("x")));
        f->pages.setPage(QStringLiteral("/s/second"), anchor.toUtf8());
    } else if (!kind.startsWith(QLatin1String("clip"))) {
        f->pages.setResponse(path, r);
    }

    StallMeter meter;
    meter.start();
    if (kind == QLatin1String("silent")) {
        WindowFixture::click(f->articles(), 2);
        QTRY_VERIFY(f->pages.requestCount(path) == 1);
        QTest::qWait(500);
    } else if (kind == QLatin1String("hung")) {
        // Qt opens six connections to a host at most; the next click waits
        // until they reach their deadline. That wait is longer than the
        // silence limit and must not count as silence.
        for (int i = 0; i < 6; ++i)
            WindowFixture::click(f->articles(), 2);
        QTRY_VERIFY(f->pages.requestCount(path) == 6);
        QTest::qWait(1500);
    } else if (kind.startsWith(QLatin1String("clip"))) {
        // However the voice server behaves, the clip in memory stays bounded.
        const qint64 residentBefore = memoryKiB("VmRSS");
        const bool peakKnown = resetPeakResident();
        WindowFixture::doubleClick(f->voices(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(f->pane()->statusText().startsWith(shown), 20000);
        const qint64 growth = peakKnown ? memoryKiB("VmHWM") - residentBefore : -1;
        m_report.append(QStringLiteral("peak resident growth while the clip was fetched, %1: %2 KiB")
                            .arg(QString::fromLatin1(QTest::currentDataTag()))
                            .arg(peakKnown ? QString::number(growth) : QStringLiteral("not measured")));
        QVERIFY2(!peakKnown || kFreedMemoryStaysResident || growth < 128 * 1024,
                 qPrintable(QStringLiteral("%1 KiB more while the clip was fetched").arg(growth)));
    } else if (!linkTarget.isEmpty()) {
        QVERIFY(f->fetchArticle(1));
        QVERIFY(f->openLink(0));
    } else {
        QVERIFY(f->fetchArticle(2, 60000));
    }
    const qint64 stall = meter.stop();
    m_report.append(QStringLiteral("longest event-loop stall, %1: %2 ms").arg(QString::fromLatin1(QTest::currentDataTag()), 24).arg(stall));

    if (keepsLists) {
        if (linkTarget.isEmpty())
            QCOMPARE(WindowFixture::rows(f->links()), linksBefore);
        QCOMPARE(WindowFixture::rows(f->voices()), voicesBefore);
        if (kind != QLatin1String("tls"))
            QCOMPARE(f->window->currentPageText(), pageBefore);
    }
    const QString line = f->pane()->statusText();
    QVERIFY2(shown.isEmpty() ? !line.startsWith(QStringLiteral("无法")) : line.startsWith(shown), qPrintable(line + QLatin1Char(' ') + f->pane()->statusToolTip()));
    if (line.startsWith(QStringLiteral("无法打开文章")))
        QVERIFY2(f->pane()->statusToolTip().contains(QStringLiteral("/s/")), qPrintable(f->pane()->statusToolTip()));
    if (!detail.isEmpty()) {
        QCOMPARE(f->pane()->statusToolTip().section(QLatin1Char('\n'), 0, 0), detail);
        QCOMPARE(log->warningLines().size(), 1);
        QVERIFY2(log->warningLines().first().endsWith('"' + detail + '"'), qPrintable(log->warningLines().first()));
    }
    const bool busyCursor = f->window->testAttribute(Qt::WA_SetCursor) && f->window->cursor().shape() == Qt::BusyCursor;
    QCOMPARE(busyCursor, shown == QStringLiteral("正在打开…"));
    if (kind == QLatin1String("anchors"))
        QCOMPARE(f->links()->count(), 100000);
    if (compressed.contains(kind) && !keepsLists)
        QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"压缩"});
    if (kind == QLatin1String("late"))
        QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"迟到"});
    if (kind == QLatin1String("limit"))
        QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"满载"});
    if (kind == QLatin1String("bytes"))
        QCOMPARE(WindowFixture::rows(f->voices()), QStringList{"一"});

    checkStillServed();
}

void TestHostile::thousandFetchesKeepNoReplies()
{
    f->pages.setPage(QStringLiteral("/s/first"), SamplePages::voicePage("卷一", clips, {300000}));
    f->pages.setPage(QStringLiteral("/s/second"),
                     SamplePages::linkPage("目录", {{f->articleLink("a1"), "甲"}}, {300000}));
    QNetworkAccessManager *manager = f->manager();
    constexpr int batch = 4; // requests in flight at once
    int issued = 0;
    int handled = 0;
    int mostAlive = 0;
    QObject::connect(manager, &QNetworkAccessManager::finished, f->window.get(), [&] {
        mostAlive = qMax(mostAlive, manager->findChildren<QNetworkReply *>().size());
        ++handled;
    });

    const qint64 before = memoryKiB("VmRSS");
    QStringList resident;
    while (issued < 1000) {
        for (int i = 0; i < batch; ++i, ++issued)
            WindowFixture::click(f->articles(), issued % 2);
        QTRY_COMPARE_WITH_TIMEOUT(handled, issued, 20000);
        // Once a batch is handled, none of its replies is left.
        QTRY_COMPARE(manager->findChildren<QNetworkReply *>().size(), 0);
        if (issued % 200 == 0)
            resident.append(QString::number(memoryKiB("VmRSS")));
    }
    QVERIFY2(mostAlive <= batch, qPrintable(QString::number(mostAlive)));
    QCOMPARE(f->pages.requests().size(), 1000);
    m_report.append(QStringLiteral("1000 fetches: peak memory %1 KiB; resident %2 KiB before, then %3 KiB "
                                   "after every 200")
                        .arg(memoryKiB("VmHWM")).arg(before).arg(resident.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
