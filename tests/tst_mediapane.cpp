#include "media/mediapane.h"

#include "testserver.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

class TestMediaPane : public QObject
{
    Q_OBJECT

signals: // what the bus says, relayed for QSignalSpy
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void seeked(qlonglong position);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void urlPropertyPlaysAtOnce();
    void secondAddressReplacesFirst();
    void unreachableAddressShowsErrorInPane_data();
    void unreachableAddressShowsErrorInPane();
    void controls_data();
    void controls();
    void fitsTheLowerPaneWithNamedControls();
    void desktopMediaControls();

private:
    static QByteArray clip(const char *name);
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
    QProcess m_bus;
};

QByteArray TestMediaPane::clip(const char *name)
{
    QFile file(qEnvironmentVariable("TEST_DATA_DIR") + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestMediaPane::initTestCase()
{
    QVERIFY(m_server.startInThread());
    const QByteArray a = clip("tone-a.mp3");
    const QByteArray b = clip("tone-b.mp3");
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    m_server.setResponse(QStringLiteral("/voice/a"), TestServer::ok(a, "audio/mpeg"));
    m_server.setResponse(QStringLiteral("/voice/b"), TestServer::ok(b, "audio/mpeg"));
    // About 90 s, long enough to seek in: MP3 frames of a plain stream join up.
    m_server.setResponse(QStringLiteral("/voice/long"), TestServer::ok(a.repeated(30), "audio/mpeg"));
    TestServer::Response slow = TestServer::ok(a.repeated(30), "audio/mpeg");
    slow.delayMs = 2000;
    m_server.setResponse(QStringLiteral("/voice/slow"), slow);

    // A session bus of our own, before anything asks for one. GLib's
    // settings would connect to it too and raise SIGTERM when it goes away.
    qputenv("GSETTINGS_BACKEND", "memory");
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address")});
    if (m_bus.waitForReadyRead(10000))
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
}

void TestMediaPane::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestMediaPane::urlPropertyPlaysAtOnce()
{
    MediaPane pane;
    pane.show();
    const QString url = address("/voice/a");
    QVERIFY(pane.setProperty("URL", QVariant(url)));
    QCOMPARE(pane.property("URL").toString(), url);
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Playing, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 300, 10000);
    QCOMPARE(m_server.requestCount(QStringLiteral("/voice/a")) > 0, true);
    QVERIFY2(pane.statusText().isEmpty(), qPrintable(pane.statusText()));
}

void TestMediaPane::secondAddressReplacesFirst()
{
    MediaPane pane;
    pane.setProperty("URL", QVariant(address("/voice/a")));
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 300, 10000);

    const int before = m_server.requestCount(QStringLiteral("/voice/b"));
    const QString second = address("/voice/b");
    QVERIFY(pane.setProperty("URL", QVariant(second)));
    QCOMPARE(pane.playback()->source(), QUrl(second));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/voice/b")) > before, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Playing, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 100, 10000);
}

void TestMediaPane::unreachableAddressShowsErrorInPane_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("line");
    QTest::newRow("missing clip (404)") << "/voice/missing" << "无法播放此音频：无法读取音频";
    QTest::newRow("not audio") << "/voice/page" << "无法播放此音频：无法读取音频";
}

void TestMediaPane::unreachableAddressShowsErrorInPane()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    m_server.setPage(QStringLiteral("/voice/page"), "<html><body>no sound here</body></html>");
    MediaPane pane;
    pane.show();
    pane.setProperty("URL", QVariant(m_server.baseUrl() + path));
    QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), line, 10000);
    QVERIFY(pane.statusToolTip().endsWith(m_server.baseUrl() + path));
    QVERIFY(pane.playback()->state() != Playback::State::Playing);
    // Too narrow for the whole line: cut short with an ellipsis.
    auto *label = pane.findChild<QLabel *>(QStringLiteral("statusLabel"));
    pane.resize(pane.width() - label->width() + label->fontMetrics().horizontalAdvance(line) / 2, pane.height());
    QTRY_VERIFY2(label->text().endsWith(QChar(0x2026)) && line.startsWith(label->text().chopped(1)), qPrintable(label->text()));

    // The next good address plays, and its states show again.
    pane.setProperty("URL", QVariant(address("/voice/a")));
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Playing, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("播放完毕"), 15000);
}

void TestMediaPane::controls_data()
{
    // Each gesture starts from the long clip paused at 0:20.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("play button") << "play button" << "state" << "Playing";
    QTest::newRow("stop button") << "stop button" << "state" << "Stopped";
    QTest::newRow("Space on a pane control") << "Space" << "state" << "Playing";
    QTest::newRow("play/pause media key") << "media play/pause" << "state" << "Playing";
    QTest::newRow("stop media key") << "media stop" << "state" << "Stopped";
    QTest::newRow("mute") << "mute" << "muted" << "true";
    QTest::newRow("mute toggles back") << "mute twice" << "muted" << "false";
    QTest::newRow("volume slider") << "volume 40" << "volume" << "40 音量：40%";
    QTest::newRow("volume at start") << "" << "volume" << "100 音量：100%";
    QTest::newRow("volume stays for the next clip") << "volume 40, next clip" << "volume" << "40 音量：40%";
    QTest::newRow("speed") << "speed 1.5" << "rate" << "1.5";
    QTest::newRow("speed back to 1x") << "speed 2, then 1" << "rate" << "1";
    QTest::newRow("speed stays for the next clip") << "speed 2, next clip" << "rate" << "2";
    QTest::newRow("Right") << "Right" << "position" << "25";
    QTest::newRow("Left") << "Left" << "position" << "15";
    QTest::newRow("PageUp") << "PageUp" << "position" << "50";
    QTest::newRow("PageDown") << "PageDown" << "position" << "0";
    QTest::newRow("Home") << "Home" << "position" << "0";
    QTest::newRow("End") << "End" << "position" << "end";
    QTest::newRow("click on the track") << "click in the middle" << "position" << "half";
    QTest::newRow("time") << "Home" << "time" << "0:00";
    QTest::newRow("early pause on the next clip") << "pause, next clip, pause" << "state" << "Paused";
}

void TestMediaPane::controls()
{
    QFETCH(QString, gesture);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    MediaPane pane;
    pane.resize(600, pane.sizeHint().height());
    pane.show();
    pane.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    auto *play = pane.findChild<QAbstractButton *>(QStringLiteral("playButton"));
    auto *stop = pane.findChild<QAbstractButton *>(QStringLiteral("stopButton"));
    auto *mute = pane.findChild<QAbstractButton *>(QStringLiteral("muteButton"));
    auto *track = pane.findChild<QAbstractSlider *>(QStringLiteral("positionSlider"));
    auto *volume = pane.findChild<QAbstractSlider *>(QStringLiteral("volumeSlider"));
    auto *speed = pane.findChild<QComboBox *>(QStringLiteral("speedBox"));
    QVERIFY(play && stop && mute && track && volume && speed);

    // Paused before the clip has loaded: seeking still works once it has.
    pane.setProperty("URL", QVariant(address("/voice/long")));
    QElapsedTimer sincePause;
    sincePause.start();
    play->click();
    QTRY_VERIFY_WITH_TIMEOUT(pane.canSeek(), 10000);
    QTRY_COMPARE(pane.playback()->state(), Playback::State::Paused);
    pane.seekTo(20000);
    const qint64 duration = pane.playback()->duration();
    QVERIFY(duration > 60000);
    auto nextClip = [&] {
        pane.setProperty("URL", QVariant(address("/voice/long")));
        return QTest::qWaitFor([&] { return pane.playback()->position() > 200; }, 10000);
    };

    if (gesture == QLatin1String("play button")) {
        play->click();
    } else if (gesture == QLatin1String("stop button")) {
        stop->click();
    } else if (gesture == QLatin1String("Space")) {
        speed->setFocus();
        QTest::keyClick(speed, Qt::Key_Space);
    } else if (gesture == QLatin1String("media play/pause")) {
        QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaTogglePlayPause, QString(), Qt::NoModifier);
    } else if (gesture == QLatin1String("media stop")) {
        QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaStop, QString(), Qt::NoModifier);
    } else if (gesture == QLatin1String("pause, next clip, pause")) {
        // The first clip's pause is over; its deadline (3 s) passes while
        // this clip, answered 2 s late, is still loading.
        QTest::qWait(int(qMax<qint64>(0, 1500 - sincePause.elapsed())));
        pane.setProperty("URL", QVariant(address("/voice/slow")));
        play->click();
        QTRY_VERIFY_WITH_TIMEOUT(pane.canSeek(), 10000);
    } else if (gesture.startsWith(QLatin1String("mute"))) {
        mute->click();
        if (gesture.endsWith(QLatin1String("twice")))
            mute->click();
    } else if (gesture.startsWith(QLatin1String("volume 40"))) {
        volume->setValue(40);
        if (gesture.endsWith(QLatin1String("next clip")))
            QVERIFY(nextClip());
    } else if (gesture.startsWith(QLatin1String("speed"))) {
        speed->setCurrentIndex(gesture == QLatin1String("speed 1.5") ? 2 : 3);
        if (gesture.endsWith(QLatin1String("then 1")))
            speed->setCurrentIndex(0);
        if (gesture.endsWith(QLatin1String("next clip"))) {
            QVERIFY(nextClip());
            // The player may say 2 and still play at 1: time it.
            const qint64 from = pane.playback()->position();
            QTest::qWait(1000);
            QVERIFY2(pane.playback()->position() - from > 1500, qPrintable(QString::number(pane.playback()->position() - from)));
        }
    } else if (gesture.startsWith(QLatin1String("click"))) {
        QStyleOptionSlider option;
        option.initFrom(track);
        option.orientation = Qt::Horizontal;
        option.minimum = track->minimum();
        option.maximum = track->maximum();
        const QRect groove = track->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, track);
        QTest::mouseClick(track, Qt::LeftButton, {}, groove.center());
    } else if (!gesture.isEmpty()) {
        const QMap<QString, Qt::Key> keys{{"Right", Qt::Key_Right}, {"Left", Qt::Key_Left}, {"PageUp", Qt::Key_PageUp},
                                          {"PageDown", Qt::Key_PageDown}, {"Home", Qt::Key_Home}, {"End", Qt::Key_End}};
        track->setFocus();
        QTest::keyClick(track, keys.value(gesture));
    }

    if (what == QLatin1String("state")) {
        QTRY_COMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(pane.playback()->state()))),
                     expected);
    } else if (what == QLatin1String("muted")) {
        QCOMPARE(pane.playback()->isMuted() ? "true" : "false", expected);
    } else if (what == QLatin1String("volume")) {
        QCOMPARE(QStringLiteral("%1 %2").arg(pane.playback()->volume()).arg(volume->toolTip()), expected);
        QCOMPARE(volume->value(), pane.playback()->volume());
    } else if (what == QLatin1String("rate")) {
        QTRY_COMPARE(QString::number(pane.playback()->rate()), expected);
        QCOMPARE(QString::number(pane.speed()), expected);
    } else if (what == QLatin1String("time")) {
        QCOMPARE(pane.findChild<QLabel *>(QStringLiteral("timeLabel"))->text().section(QLatin1Char(' '), 0, 0), expected);
    } else {
        const qint64 want = expected == QLatin1String("end") ? duration
            : expected == QLatin1String("half")          ? duration / 2
                                                         : expected.toLongLong() * 1000;
        QTRY_VERIFY2(qAbs(pane.playback()->position() - want) <= 1500,
                     qPrintable(QStringLiteral("%1 ms, not %2 ms").arg(pane.playback()->position()).arg(want)));
    }
}

void TestMediaPane::fitsTheLowerPaneWithNamedControls()
{
    MediaPane pane;
    QVERIFY(pane.minimumSizeHint().height() <= 80);
    QVERIFY(pane.sizeHint().height() <= 80);
    // A screen reader names each control as its tooltip does.
    for (QWidget *control : pane.findChildren<QWidget *>()) {
        if (!control->focusPolicy() || control->objectName().isEmpty())
            continue;
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        QVERIFY2(control->toolTip().startsWith(control->accessibleName()), qPrintable(control->objectName()));
    }
    QVERIFY(!pane.findChild<QLabel *>(QStringLiteral("timeLabel"))->accessibleDescription().isEmpty());
}

void TestMediaPane::desktopMediaControls()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        QSKIP("no session bus could be started (dbus-daemon)");
    MediaPane pane;
    const QString service = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    QDBusInterface root(service, path, QStringLiteral("org.mpris.MediaPlayer2"), bus);
    QDBusInterface player(service, path, QStringLiteral("org.mpris.MediaPlayer2.Player"), bus);
    QVERIFY2(player.isValid(), qPrintable(player.lastError().message()));
    QCOMPARE(root.property("Identity").toString(), QStringLiteral("Sorvalen Brimwold"));
    QCOMPARE(root.property("DesktopEntry").toString(), QStringLiteral("org.sorvalen.Brimwold"));
    QCOMPARE(root.property("CanQuit").toBool(), false);
    QCOMPARE(player.property("PlaybackStatus").toString(), QStringLiteral("Stopped"));
    QCOMPARE(player.property("CanPlay").toBool(), false);

    QSignalSpy changes(this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList)));
    QVERIFY(bus.connect(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList))));
    QSignalSpy seeked(this, SIGNAL(seeked(qlonglong)));
    QVERIFY(bus.connect(service, path, player.interface(), QStringLiteral("Seeked"), this, SIGNAL(seeked(qlonglong))));

    pane.setProperty("URL", QVariant(address("/voice/long")));
    QTRY_COMPARE_WITH_TIMEOUT(player.property("PlaybackStatus").toString(), QStringLiteral("Playing"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(player.property("CanSeek").toBool(), 10000);
    const QVariantMap metadata = qdbus_cast<QVariantMap>(player.property("Metadata"));
    QCOMPARE(metadata.value(QStringLiteral("xesam:url")).toString(), address("/voice/long"));
    QVERIFY(metadata.value(QStringLiteral("mpris:length")).toLongLong() > 60000000);
    const QString track = qdbus_cast<QDBusObjectPath>(metadata.value(QStringLiteral("mpris:trackid"))).path();
    QVERIFY2(track.startsWith(QLatin1String("/org/sorvalen/Brimwold/")), qPrintable(track));

    player.call(QStringLiteral("PlayPause"));
    QTRY_COMPARE(pane.playback()->state(), Playback::State::Paused);
    QTRY_VERIFY(std::any_of(changes.cbegin(), changes.cend(), [](const QList<QVariant> &args) {
        return qdbus_cast<QVariantMap>(args.at(1)).value(QStringLiteral("PlaybackStatus")) == QStringLiteral("Paused");
    }));
    player.call(QStringLiteral("SetPosition"), QVariant::fromValue(QDBusObjectPath(track)), qlonglong(20000000));
    QTRY_VERIFY(qAbs(player.property("Position").toLongLong() - 20000000) < 1500000);
    QTRY_COMPARE(seeked.count(), 1);
    player.call(QStringLiteral("Seek"), qlonglong(5000000));
    QTRY_VERIFY(qAbs(pane.playback()->position() - 25000) < 1500);

    player.setProperty("Volume", 0.4);
    QTRY_COMPARE(pane.playback()->volume(), 40);
    player.setProperty("Rate", 2.0);
    QTRY_COMPARE(pane.speed(), 2.0);
    QCOMPARE(player.property("MaximumRate").toDouble(), 2.0);
    QCOMPARE(player.property("CanGoNext").toBool(), false);
    player.call(QStringLiteral("Stop"));
    QTRY_COMPARE(player.property("PlaybackStatus").toString(), QStringLiteral("Stopped"));
}

QTEST_MAIN(TestMediaPane)
#include "tst_mediapane.moc"
