#include "playersession.h"
#include "sleeptimer.h"

#include "sinkrecorder.h"
#include "stallmeter.h"
#include "synthclip.h"
#include "testclips.h"
#include "testserver.h"

#include <QtTest>

namespace {

QString statusName(Playback::Status status)
{
    return QString::fromLatin1(QMetaEnum::fromType<Playback::Status>().valueToKey(int(status)));
}

} // namespace

// The player session without a widget: the clip it opens, the commands,
// and what the status line says about it and why.
class TestPlayerSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensAndPlaysAtOnce_data();
    void opensAndPlaysAtOnce();
    void secondClipReplacesFirst();
    void failures_data();
    void failures();
    void brokenDownloads_data();
    void brokenDownloads();
    void commandsWhileLoading_data();
    void commandsWhileLoading();
    void notices_data();
    void notices();
    void sleepTimerSaysSo();
    void reading_data();
    void reading();
    void previousOnTheFirstRow();
    void keptPlace_data();
    void keptPlace();
    void reconnects_data();
    void reconnects();

private:
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
};

void TestPlayerSession::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
}

void TestPlayerSession::opensAndPlaysAtOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("stalls"); // the clip stops arriving for a while
    QTest::addColumn<int>("blockedMs"); // what a window that waited on the clip would lose; 0: not looked at
    QTest::newRow("prompt voice server") << "/voice/a" << false << 0;
    QTest::newRow("voice server answering after 3 s") << "/voice/late" << false << 3000;
    QTest::newRow("voice server sending no length") << "/voice/unmeasured" << false << 0;
    QTest::newRow("voice server pausing mid-clip") << "/voice/halting" << true << 3000;
}

void TestPlayerSession::opensAndPlaysAtOnce()
{
    QFETCH(QString, path);
    QFETCH(bool, stalls);
    QFETCH(int, blockedMs);
    PlayerSession session;
    const QString url = m_server.baseUrl() + path;
    StallMeter meter(10);
    meter.start();
    session.open(url);
    QCOMPARE(session.url(), url);
    QCOMPARE(session.playback()->state(), Playback::State::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(session.position() > 300, 10000);
    QVERIFY(m_server.requestCount(path) > 0);
    // Not named in any list: the status line names it by its address,
    // and says so while it waits for the rest of the clip.
    QCOMPARE(session.statusText(), url);
    QCOMPARE(session.statusToolTip(), url);
    if (stalls) {
        QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), QStringLiteral("缓冲中…"), 10000);
        QCOMPARE(session.report(), PlayerSession::Report::Buffering);
        QTRY_VERIFY_WITH_TIMEOUT(session.position() > 2500, 10000);
        QTRY_COMPARE(session.statusText(), url);
    }
    QVERIFY2(session.duration() > 2500, qPrintable(QString::number(session.duration())));
    // The thread went on while the clip loaded: a wait for the clip would
    // have held it for seconds.
    const qint64 late = meter.stop();
    QVERIFY2(blockedMs == 0 || late < blockedMs / 2, qPrintable(QStringLiteral("a 10 ms timer ran %1 ms late").arg(late)));
}

void TestPlayerSession::secondClipReplacesFirst()
{
    PlayerSession session;
    QSignalSpy changed(&session, &PlayerSession::clipChanged);
    session.open(address("/voice/a"));
    QTRY_VERIFY_WITH_TIMEOUT(session.position() > 300, 10000);

    const int before = m_server.requestCount(QStringLiteral("/voice/b"));
    session.open(address("/voice/b"));
    QCOMPARE(session.playback()->source(), QUrl(address("/voice/b")));
    QCOMPARE(session.clipNumber(), 2);
    QCOMPARE(changed.count(), 2);
    // The first clip's length is not shown for the second.
    QCOMPARE(session.duration(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/voice/b")) > before, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(session.playback()->state(), Playback::State::Playing, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(session.position() > 100, 10000);
}

void TestPlayerSession::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("detail"); // in the tooltip
    QTest::addColumn<QString>("sink");
    const QString sink = qEnvironmentVariable("BRIMWOLD_AUDIO_SINK");
    QTest::newRow("missing clip (404)") << "/voice/missing" << "无法播放此音频：无法读取音频" << "Not Found" << sink;
    QTest::newRow("empty body") << "/voice/empty" << "无法播放此音频：无法读取音频" << "" << sink;
    QTest::newRow("not audio") << "/voice/page" << "无法播放此音频：无法读取音频" << "" << sink;
    QTest::newRow("no decoder for the clip") << "/voice/amr" << "无法播放此音频：缺少播放组件" << "Adaptive Multi Rate" << sink;
    QTest::newRow("no sound output") << "/voice/a" << "无法播放此音频：缺少播放组件" << "nosuchsink" << "nosuchsink";
}

void TestPlayerSession::failures()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    QFETCH(QString, detail);
    QFETCH(QString, sink);
    PlayerSession session;
    session.playback()->setAudioSink(sink);
    session.open(m_server.baseUrl() + path);
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), line, 10000);
    QCOMPARE(session.report(), PlayerSession::Report::Failed);
    QVERIFY(session.statusToolTip().endsWith(m_server.baseUrl() + path));
    QVERIFY2(session.statusToolTip().contains(detail), qPrintable(session.statusToolTip()));
    QVERIFY(session.playback()->state() != Playback::State::Playing);
    // Nothing to seek in.
    QSignalSpy seeked(&session, &PlayerSession::seeked);
    session.seekTo(1000);
    QVERIFY(!session.canSeek() && seeked.isEmpty());

    // Play tries the clip again; the next good address plays, and its
    // states show again.
    session.playback()->setAudioSink(qEnvironmentVariable("BRIMWOLD_AUDIO_SINK"));
    const int fetches = m_server.requestCount(path);
    session.play();
    QVERIFY(session.statusText() != line);
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(path) > fetches, 10000);
    session.open(address("/voice/short"));
    QTRY_COMPARE_WITH_TIMEOUT(session.playback()->state(), Playback::State::Playing, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), QStringLiteral("播放完毕"), 10000);
}

void TestPlayerSession::brokenDownloads_data()
{
    // A download that breaks off: what arrived plays to its end and can be
    // sought in, and only its end says why; with nothing playable, it fails
    // at once. The silence limit is 3 s.
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("part"); // of the clip that arrives; 0: nothing playable
    QTest::addColumn<bool>("smart"); // both switches on
    QTest::addColumn<QString>("line");
    QTest::newRow("closed at half") << "/voice/broken" << 2 << false << "音频未下载完整：网络错误";
    QTest::newRow("quiet after a quarter") << "/voice/quiet" << 4 << false << "音频未下载完整：等待超时";
    QTest::newRow("closed at half, with smart speed") << "/voice/broken" << 2 << true << "音频未下载完整：网络错误";
    QTest::newRow("closed before anything playable") << "/voice/scrap" << 0 << false << "无法播放此音频：网络错误";
}

void TestPlayerSession::brokenDownloads()
{
    QFETCH(QString, path);
    QFETCH(int, part);
    QFETCH(bool, smart);
    QFETCH(QString, line);
    PlayerSession session;
    session.playback()->setFetchLimits({16 * 1024 * 1024, 3000, 0});
    // Asked again quickly; a silent server twice at most.
    session.playback()->setRetries({{20, 40, 80, 160}, path.contains(QLatin1String("quiet")) ? 2 : 5});
    session.setSkipSilence(smart);
    session.setBoostVoice(smart);
    QSignalSpy statuses(session.playback(), &Playback::statusChanged);
    qint64 shown = -1; // the last position shown before it stopped
    connect(session.playback(), &Playback::positionChanged, this, [&](qint64 ms) {
        if (session.playback()->state() != Playback::State::Stopped)
            shown = ms;
    });
    session.open(address(qPrintable(path)));
    if (part == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), line, 10000);
        for (const QList<QVariant> &status : qAsConst(statuses))
            QVERIFY2(status.first().value<Playback::Status>() != Playback::Status::Loaded,
                     qPrintable(statusName(status.first().value<Playback::Status>())));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(session.position() > 300, 10000);
        const qint64 arrived = session.duration() / part;
        QVERIFY(arrived > 4000);
        session.seekTo(1000);
        QTRY_VERIFY_WITH_TIMEOUT(session.position() > 1500, 10000);
        QVERIFY(!session.statusText().startsWith(QStringLiteral("音频")));
        session.seekTo(arrived - 2000);
        QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), line, 15000);
        QVERIFY2(qAbs(shown - arrived) < 1000, qPrintable(QStringLiteral("%1 of %2 ms").arg(shown).arg(arrived)));
    }
    QVERIFY(!session.canSeek());
    const QStringList tip = session.statusToolTip().split(QLatin1Char('\n'));
    QVERIFY2(tip.size() == 2 && !tip.first().isEmpty() && tip.last() == address(qPrintable(path)), qPrintable(tip.join(QLatin1Char('|'))));
    // The failure stays while nothing new happens to the clip.
    QTest::qWait(200);
    QCOMPARE(session.statusText(), line);
    // The next clip plays as if nothing had happened.
    session.open(address("/voice/short"));
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), QStringLiteral("播放完毕"), 10000);
}

void TestPlayerSession::commandsWhileLoading_data()
{
    // Given while the clip, answered 2 s late, is still loading: each takes
    // effect once it has loaded, before anything is heard.
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("state");
    QTest::addColumn<qint64>("from"); // ms it stands or plays from
    QTest::addColumn<double>("rate");
    QTest::newRow("a pause") << "pause" << "Paused" << qint64(0) << 1.0;
    QTest::newRow("a pause and a seek") << "pause, seek 20" << "Paused" << qint64(20000) << 1.0;
    QTest::newRow("a speed") << "speed 2, pause" << "Paused" << qint64(0) << 2.0;
    QTest::newRow("a stop") << "stop" << "Stopped" << qint64(0) << 1.0;
}

void TestPlayerSession::commandsWhileLoading()
{
    QFETCH(QString, commands);
    QFETCH(QString, state);
    QFETCH(qint64, from);
    QFETCH(double, rate);
    SinkRecorder probe;
    PlayerSession session;
    session.playback()->setAudioSink(SinkRecorder::sink());
    session.open(address("/voice/slow"));
    QVERIFY(probe.attach(session.playback()));
    QCOMPARE(session.statusText(), QStringLiteral("加载中…"));
    QCOMPARE(session.report(), PlayerSession::Report::Loading);
    for (const QString &command : commands.split(QStringLiteral(", "))) {
        if (command == QLatin1String("pause"))
            session.pause();
        else if (command == QLatin1String("stop"))
            session.stop();
        else if (command.startsWith(QLatin1String("speed ")))
            session.setSpeed(command.mid(6).toDouble());
        else if (command.startsWith(QLatin1String("seek ")))
            session.playback()->setPosition(command.mid(5).toLongLong() * 1000);
    }
    QCOMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(session.playback()->state()))), state);
    if (state == QLatin1String("Stopped")) {
        QTest::qWait(2500); // past the server's answer
        QCOMPARE(probe.buffers(), 0);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
    QCOMPARE(session.position(), from);
    QCOMPARE(session.playback()->rate(), rate);
    QCOMPARE(probe.buffers(), 0);
    QVERIFY(session.statusText() != QStringLiteral("加载中…"));
    session.play();
    QTRY_VERIFY_WITH_TIMEOUT(session.position() > from + 300, 10000);
    QVERIFY(session.position() < from + 5000);
}

void TestPlayerSession::notices_data()
{
    // A notice about something else (a page being opened, one that failed)
    // before the clip's own words; what ends it.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("line");
    QTest::newRow("a lasting notice outlives a new clip") << "lasting" << "open" << "正在打开…";
    QTest::newRow("a lasting notice goes when cleared") << "lasting" << "clear" << "/voice/long";
    QTest::newRow("a passing notice gives way to a new clip") << "passing" << "open" << "/voice/long";
    QTest::newRow("a passing notice outlives playing on") << "passing" << "play on" << "无法打开文章：不是网页地址";
    QTest::newRow("a passing notice gives way to what the clip does") << "passing" << "end" << "播放完毕";
}

void TestPlayerSession::notices()
{
    QFETCH(QString, kind);
    QFETCH(QString, then);
    QFETCH(QString, line);
    PlayerSession session;
    session.open(address("/voice/long"));
    QTRY_VERIFY_WITH_TIMEOUT(session.canSeek() && session.playback()->state() == Playback::State::Playing, 10000);
    QCOMPARE(session.statusText(), address("/voice/long"));
    if (kind == QLatin1String("lasting"))
        session.showNotice(QStringLiteral("正在打开…"), QString(), PlayerSession::Notice::Lasting);
    else
        session.showNotice(QStringLiteral("无法打开文章：不是网页地址"), QStringLiteral("ftp://x"),
                           PlayerSession::Notice::UntilClipEvent);
    // Whoever shows the line is told of each change.
    QString announced = session.statusText();
    connect(&session, &PlayerSession::statusChanged, this, [&] { announced = session.statusText(); });
    if (then == QLatin1String("open")) {
        session.open(address("/voice/long"));
        QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
    } else if (then == QLatin1String("clear")) {
        session.clearNotice(PlayerSession::Notice::UntilClipEvent); // not of its kind
        QVERIFY(session.statusText() != address("/voice/long"));
        session.clearNotice(PlayerSession::Notice::Lasting);
    } else if (then == QLatin1String("play on")) {
        QTest::qWait(400);
    } else if (then == QLatin1String("end")) {
        session.seekTo(session.duration());
    }
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText().replace(m_server.baseUrl(), QString()), line, 10000);
    QCOMPARE(announced, session.statusText());
}

// Until the listener plays again.
void TestPlayerSession::sleepTimerSaysSo()
{
    PlayerSession session;
    session.sleepTimer()->setScale(20, 100); // 15 minutes in 300 ms
    session.open(address("/voice/long"));
    QTRY_VERIFY_WITH_TIMEOUT(session.position() > 100, 10000);
    session.sleepTimer()->start(15);
    QTRY_COMPARE_WITH_TIMEOUT(session.playback()->state(), Playback::State::Paused, 10000);
    QCOMPARE(session.statusText(), QStringLiteral("睡眠定时已暂停播放"));
    QCOMPARE(session.report(), PlayerSession::Report::SleepPaused);
    session.play();
    QTRY_COMPARE(session.statusText(), address("/voice/long"));
}

void TestPlayerSession::reading_data()
{
    // Three half-second clips listed, the first opened; what plays after it.
    QTest::addColumn<bool>("on"); // 连续播放
    QTest::addColumn<QString>("mishap");
    QTest::addColumn<QStringList>("played");
    QTest::addColumn<QString>("end"); // how the reading ends
    QTest::newRow("off: the clip ends and nothing follows") << false << "" << QStringList{"half"} << "播放完毕";
    QTest::newRow("on: each follows, and the last ends the reading")
        << true << "" << QStringList{"half", "half2", "short"} << "播放完毕";
    QTest::newRow("on: a clip that fails stops it") << true << "second missing" << QStringList{"half", "missing"}
                                                    << "无法播放此音频：无法读取音频";
    QTest::newRow("on: a new page mid-reading, which it goes on through") << true << "new page"
                                                                          << QStringList{"half", "short", "half2"} << "播放完毕";
    QTest::newRow("on, with the sleep timer at the clip's end: it stops after this clip")
        << true << "sleep at the clip's end" << QStringList{"half"} << "播放完毕";
}

void TestPlayerSession::reading()
{
    QFETCH(bool, on);
    QFETCH(QString, mishap);
    QFETCH(QStringList, played);
    QFETCH(QString, end);
    PlayerSession session;
    session.setPlaysOn(on);
    const auto clip = [&](const QString &name) { return PlayerSession::Clip{address(qPrintable(QStringLiteral("/voice/") + name)), name}; };
    session.setClipList({clip(QStringLiteral("half")), clip(mishap == QLatin1String("second missing") ? QStringLiteral("missing")
                                                                                                      : QStringLiteral("half2")),
                         clip(QStringLiteral("short"))},
                        QStringLiteral("卷一"));
    QStringList opened;
    connect(&session, &PlayerSession::clipChanged, this, [&] { opened.append(session.title()); });
    if (mishap == QLatin1String("sleep at the clip's end"))
        session.sleepTimer()->startToClipEnd();
    session.open(address("/voice/half"));
    if (mishap == QLatin1String("new page")) {
        QTRY_VERIFY_WITH_TIMEOUT(session.position() > 100, 10000);
        session.setClipList({clip(QStringLiteral("short")), clip(QStringLiteral("half2"))}, QStringLiteral("卷二"));
        session.open(address("/voice/short"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), played.size(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), end, 10000);
    QTest::qWait(300); // nothing more comes
    QCOMPARE(opened, played);
    QCOMPARE(session.playback()->state(), Playback::State::Stopped);
    QVERIFY(!session.sleepTimer()->isRunning());
}

// On the first row, or once a clip has ended: to its start, playing.
void TestPlayerSession::previousOnTheFirstRow()
{
    PlayerSession session;
    session.setClipList({{address("/voice/half"), QStringLiteral("一")}, {address("/voice/half2"), QStringLiteral("二")}},
                        QStringLiteral("卷一"));
    session.open(address("/voice/half"));
    QTRY_COMPARE_WITH_TIMEOUT(session.report(), PlayerSession::Report::Ended, 10000);
    QVERIFY(session.canGoNext());
    session.previous();
    QCOMPARE(session.url(), address("/voice/half"));
    QCOMPARE(session.clipNumber(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(session.playback()->state(), Playback::State::Playing, 10000);
    session.next();
    QCOMPARE(session.url(), address("/voice/half2"));
    QVERIFY(!session.canGoNext());
    session.next(); // on the last row: nothing
    QCOMPARE(session.clipNumber(), 2);
}

void TestPlayerSession::keptPlace_data()
{
    // The long clip, left (for another clip) once it stands at a point;
    // where it starts when it is opened again.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("leave");
    QTest::addColumn<qint64>("left");    // ms of the clip where it was left; -1: its end
    QTest::addColumn<qint64>("restart"); // ms it starts again at; -1: 5 s before where it was left
    QTest::newRow("left at 30 s: from 25 s") << "long" << "another clip" << qint64(30000) << qint64(-1);
    QTest::newRow("left at 5 s: from the start") << "long" << "another clip" << qint64(5000) << qint64(0);
    QTest::newRow("left in its last 10 s: from the start") << "long" << "another clip" << qint64(-5000) << qint64(0);
    QTest::newRow("heard to the end: from the start") << "long" << "its end" << qint64(-1) << qint64(0);
    QTest::newRow("stop forgets: from the start") << "long" << "stop, another clip" << qint64(30000) << qint64(0);
    QTest::newRow("with 跳过静音 on, in the clip's own time") << "reading" << "skip silence, another clip" << qint64(30000)
                                                               << qint64(-1);
}

void TestPlayerSession::keptPlace()
{
    QFETCH(QString, clip);
    QFETCH(QString, leave);
    QFETCH(qint64, left);
    QFETCH(qint64, restart);
    PlayerSession session;
    const QString url = address(qPrintable(QStringLiteral("/voice/") + clip));
    QSignalSpy places(&session, &PlayerSession::placesChanged);
    if (leave.startsWith(QLatin1String("skip silence")))
        session.setSkipSilence(true);
    session.open(url);
    QTRY_VERIFY_WITH_TIMEOUT(session.canSeek(), 10000);
    const qint64 target = left == -1 ? session.duration() : left < 0 ? session.duration() + left : left;
    session.seekTo(target);
    if (left == -1) {
        QTRY_COMPARE_WITH_TIMEOUT(session.report(), PlayerSession::Report::Ended, 10000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(session.position() > target + 300, 10000);
        session.pause(); // where it is left stays put
        QTRY_COMPARE(session.playback()->state(), Playback::State::Paused);
    }
    const qint64 leftAt = session.position();
    if (leave.contains(QLatin1String("stop")))
        session.stop();
    session.open(address("/voice/b"));
    QCOMPARE(session.placeOf(url), restart == 0 ? -1 : leftAt);
    QVERIFY(!places.isEmpty());
    session.open(url);
    QTRY_VERIFY_WITH_TIMEOUT(session.canSeek() && session.playback()->state() == Playback::State::Playing, 10000);
    const qint64 want = restart < 0 ? leftAt - 5000 : restart;
    QVERIFY2(session.position() >= want - 100 && session.position() < want + 1500,
             qPrintable(QStringLiteral("from %1 ms, not %2 ms").arg(session.position()).arg(want)));
}

void TestPlayerSession::reconnects_data()
{
    // Two seconds of tone, whose download breaks at 30 %: the player plays
    // what arrived, waits at its end and says so, and goes on by itself.
    QTest::addColumn<int>("failedTries"); // before the one that brings the rest
    QTest::addColumn<QString>("said");
    QTest::newRow("a dropped connection: 正在重新连接…, then on") << 0 << "正在重新连接…";
    QTest::newRow("its second try is numbered") << 1 << "正在重新连接…（第 2 次）";
}

void TestPlayerSession::reconnects()
{
    QFETCH(int, failedTries);
    QFETCH(QString, said);
    SynthClip tone;
    tone.tone(2.0, -12);
    const QByteArray clip = tone.wav();
    TestServer::Response first = TestServer::ok(clip, "audio/wav");
    first.cutAfter = clip.size() * 3 / 10;
    TestServer::Response gone = first;
    gone.cutAfter = 0;
    TestServer::Response rest = TestServer::ok(clip, "audio/wav");
    rest.delayMs = 1200; // well after the player has reached the end of what arrived
    QList<TestServer::Response> answers{first};
    for (int i = 0; i < failedTries; ++i)
        answers.append(gone);
    answers.append(rest);
    m_server.setResponses(QStringLiteral("/voice/reconnect"), answers);
    PlayerSession session;
    session.playback()->setRetries({{300}, 5});
    QStringList lines;
    connect(&session, &PlayerSession::statusChanged, this, [&] {
        if (lines.isEmpty() || lines.last() != session.statusText())
            lines.append(session.statusText());
    });
    session.open(address("/voice/reconnect"));
    QTRY_VERIFY2_WITH_TIMEOUT(lines.contains(said), qPrintable(lines.join(QLatin1String(" | "))), 10000);
    QCOMPARE(session.report(), PlayerSession::Report::Buffering);
    QTRY_COMPARE_WITH_TIMEOUT(session.statusText(), QStringLiteral("播放完毕"), 15000);
    for (const QString &line : qAsConst(lines))
        QVERIFY2(!line.startsWith(QStringLiteral("音频未下载完整")), qPrintable(lines.join(QLatin1String(" | "))));
}

QTEST_MAIN(TestPlayerSession)
#include "tst_playersession.moc"
