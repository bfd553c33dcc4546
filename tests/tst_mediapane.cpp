#include "media/mediapane.h"
#include "media/mprisservice.h"

#include "sinkprobe.h"
#include "stallmeter.h"
#include "testserver.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

#include <gst/gst.h>

#include <cmath>

namespace {

// What reaches the pane's sound: a fakesink named "probe" that keeps time,
// behind a conversion to 16-bit mono. Counts the buffers it plays and, for
// a sine clip, how often the wave crosses zero per second of wall clock.
class SinkProbe
{
public:
    static QString sink()
    {
        return QStringLiteral("audioconvert ! audio/x-raw,format=S16LE,channels=1 ! "
                              "fakesink name=probe sync=true signal-handoffs=true");
    }

    bool attach(Playback *playback) { return connectProbe(playback, G_CALLBACK(&SinkProbe::handoff), this); }

    int buffers() const
    {
        QMutexLocker lock(&m_mutex);
        return m_buffers;
    }

    // From what was played since the last call of restart().
    double frequency() const
    {
        QMutexLocker lock(&m_mutex);
        const double seconds = (m_last - m_first) / 1e9;
        return seconds > 0 ? (m_crossingsBeforeLast - m_crossingsAtFirst) / 2.0 / seconds : 0;
    }

    // The loudest sample played since the last call of restart().
    int peak() const
    {
        QMutexLocker lock(&m_mutex);
        return m_peak;
    }

    void restart()
    {
        QMutexLocker lock(&m_mutex);
        m_first = m_last = -1;
        m_peak = 0;
    }

private:
    // On the streaming thread, when the buffer's time has come.
    static void handoff(GstElement *, GstBuffer *buffer, GstPad *, SinkProbe *self)
    {
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        QMutexLocker lock(&self->m_mutex);
        const qint64 now = self->m_clock.nsecsElapsed();
        if (self->m_first < 0) {
            self->m_first = now;
            self->m_crossingsAtFirst = self->m_crossings;
        }
        self->m_last = now;
        self->m_crossingsBeforeLast = self->m_crossings;
        const auto *samples = reinterpret_cast<const qint16 *>(map.data);
        for (gsize i = 0; i < map.size / 2; ++i) {
            self->m_peak = qMax(self->m_peak, qAbs(int(samples[i])));
            // A little hysteresis, so that noise near zero does not count.
            if (qAbs(samples[i]) > 1000 && (samples[i] < 0) != self->m_negative) {
                self->m_negative = !self->m_negative;
                ++self->m_crossings;
            }
        }
        ++self->m_buffers;
        gst_buffer_unmap(buffer, &map);
    }

    mutable QMutex m_mutex;
    QElapsedTimer m_clock = [] { QElapsedTimer t; t.start(); return t; }();
    int m_buffers = 0;
    int m_peak = 0;
    bool m_negative = false;
    qint64 m_crossings = 0;
    qint64 m_crossingsAtFirst = 0;
    qint64 m_crossingsBeforeLast = 0;
    qint64 m_first = -1;
    qint64 m_last = -1;
};

constexpr double kToneHz = 440;  // tone-a.mp3
constexpr double kTonePeak = 15700; // its loudest sample

} // namespace

class TestMediaPane : public QObject
{
    Q_OBJECT

signals: // what the bus says, relayed for QSignalSpy
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void seeked(qlonglong position);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void urlPropertyPlaysAtOnce_data();
    void urlPropertyPlaysAtOnce();
    void secondAddressReplacesFirst();
    void unreachableAddressShowsErrorInPane_data();
    void unreachableAddressShowsErrorInPane();
    void controls_data();
    void controls();
    void pitchKeptAtEverySpeed_data();
    void pitchKeptAtEverySpeed();
    void fitsTheLowerPaneWithNamedControls();
    void desktopMediaControls_data();
    void desktopMediaControls();

private:
    static QByteArray clip(const char *name);
    static bool hasSoundDevice();
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
    QProcess m_bus;
};

// Whether autoaudiosink finds a real sink here.
bool TestMediaPane::hasSoundDevice()
{
    GstElement *sink = gst_element_factory_make("autoaudiosink", nullptr);
    if (!sink)
        return false;
    gst_object_ref_sink(sink);
    bool real = false;
    if (gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
        GstIterator *children = gst_bin_iterate_elements(GST_BIN(sink));
        GValue child = G_VALUE_INIT;
        while (gst_iterator_next(children, &child) == GST_ITERATOR_OK) {
            GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&child)));
            real = real || (factory && !g_str_equal(GST_OBJECT_NAME(factory), "fakesink"));
            g_value_reset(&child);
        }
        g_value_unset(&child);
        gst_iterator_free(children);
    }
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
    return real;
}

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
    // About 90 s, long enough to seek in: MP3 frames of a plain stream join
    // up. Its server sends the whole clip for every request, as some voice
    // servers do: seeking must not depend on asking it again.
    TestServer::Response whole = TestServer::ok(a.repeated(30), "audio/mpeg");
    whole.ignoreRanges = true;
    m_server.setResponse(QStringLiteral("/voice/long"), whole);
    m_server.setResponse(QStringLiteral("/voice/hour"), TestServer::ok(a.repeated(1240), "audio/mpeg"));
    TestServer::Response slow = TestServer::ok(a.repeated(30), "audio/mpeg");
    slow.delayMs = 2000;
    m_server.setResponse(QStringLiteral("/voice/slow"), slow);
    // Half of a 9 s clip, then the connection is gone.
    TestServer::Response cut = TestServer::ok(a.repeated(3), "audio/mpeg");
    cut.closeMidBody = true;
    m_server.setResponse(QStringLiteral("/voice/cut"), cut);
    // The long clip's first quarter, then nothing for 4 s.
    TestServer::Response stalling = whole;
    stalling.pauseAfter = stalling.body.size() / 4;
    stalling.pauseMs = 4000;
    m_server.setResponse(QStringLiteral("/voice/stalling"), stalling);
    TestServer::Response late = TestServer::ok(a.repeated(3), "audio/mpeg");
    late.delayMs = 3000;
    m_server.setResponse(QStringLiteral("/voice/late"), late);
    TestServer::Response unmeasured = TestServer::ok(a.repeated(3), "audio/mpeg");
    unmeasured.noLength = true;
    m_server.setResponse(QStringLiteral("/voice/unmeasured"), unmeasured);
    // The first 2 s of the clip, then nothing for 3 s.
    TestServer::Response halting = TestServer::ok(a.repeated(3), "audio/mpeg");
    halting.pauseAfter = 8000;
    halting.pauseMs = 3000;
    m_server.setResponse(QStringLiteral("/voice/halting"), halting);
    // WeChat's own voice format, which GStreamer's base and good plugins
    // cannot decode.
    m_server.setResponse(QStringLiteral("/voice/amr"),
                         TestServer::ok("#!AMR\n" + QByteArray("\x3c", 1).append(31, '\x55').repeated(200), "audio/amr"));

    // A session bus of our own, before anything asks for one. GLib's
    // settings would connect to it too and raise SIGTERM when it goes away.
    qputenv("GSETTINGS_BACKEND", "memory");
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address")});
    if (!m_bus.waitForReadyRead(10000))
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    // What the player announces, for the rows to look at, seen as a client
    // sees it: through a connection of its own.
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                                        QStringLiteral("client"));
    const QString service = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    QVERIFY(bus.connect(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                        this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList))));
    QVERIFY(bus.connect(service, path, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Seeked"), this,
                        SIGNAL(seeked(qlonglong))));
}

void TestMediaPane::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestMediaPane::urlPropertyPlaysAtOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("stalls"); // the clip stops arriving for a while
    QTest::newRow("prompt voice server") << "/voice/a" << false;
    QTest::newRow("voice server answering after 3 s") << "/voice/late" << false;
    QTest::newRow("voice server sending no length") << "/voice/unmeasured" << false;
    QTest::newRow("voice server pausing mid-clip") << "/voice/halting" << true;
}

void TestMediaPane::urlPropertyPlaysAtOnce()
{
    QFETCH(QString, path);
    QFETCH(bool, stalls);
    MediaPane pane;
    pane.show();
    const QString url = m_server.baseUrl() + path;
    // A window that waits on the pipeline is late by a second or more.
    StallMeter meter(10);
    meter.start();
    QVERIFY(pane.setProperty("URL", QVariant(url)));
    QCOMPARE(pane.property("URL").toString(), url);
    QCOMPARE(pane.playback()->state(), Playback::State::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 300, 10000);
    QCOMPARE(m_server.requestCount(path) > 0, true);
    // Not named in any list: the status line names it by its address,
    // and says so while it waits for the rest of the clip.
    QCOMPARE(pane.statusText(), url);
    if (stalls) {
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("缓冲中…"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 2500, 10000);
        QTRY_COMPARE(pane.statusText(), url);
    }
    QVERIFY2(pane.playback()->duration() > 2500, qPrintable(QString::number(pane.playback()->duration())));
    // The window kept answering while the clip loaded.
    const qint64 late = meter.stop() - 10;
    QVERIFY2(late < 250, qPrintable(QStringLiteral("a 10 ms timer ran %1 ms late").arg(late)));
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
    // The first clip's length is not shown for the second.
    QCOMPARE(pane.playback()->duration(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(QStringLiteral("/voice/b")) > before, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Playing, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 100, 10000);
}

void TestMediaPane::unreachableAddressShowsErrorInPane_data()
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
    // The desktop's own sink, on a machine with no sound device: autoaudiosink
    // falls back to a sink that plays nothing.
    QTest::newRow("no sound device") << "/voice/a" << "无法播放此音频：缺少播放组件" << "autoaudiosink found none" << "";
}

void TestMediaPane::unreachableAddressShowsErrorInPane()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    QFETCH(QString, detail);
    QFETCH(QString, sink);
    if (sink.isEmpty() && hasSoundDevice())
        QSKIP("this machine has a sound device");
    m_server.setPage(QStringLiteral("/voice/page"), "<html><body>no sound here</body></html>");
    m_server.setResponse(QStringLiteral("/voice/empty"), TestServer::ok(QByteArray(), "audio/mpeg"));
    MediaPane pane;
    pane.playback()->setAudioSink(sink);
    pane.show();
    pane.setProperty("URL", QVariant(m_server.baseUrl() + path));
    QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), line, 10000);
    QVERIFY(pane.statusToolTip().endsWith(m_server.baseUrl() + path));
    QVERIFY2(pane.statusToolTip().contains(detail), qPrintable(pane.statusToolTip()));
    QVERIFY(pane.playback()->state() != Playback::State::Playing);
    // Nothing to seek in.
    QSignalSpy seeked(&pane, &MediaPane::seeked);
    pane.seekTo(1000);
    QVERIFY(!pane.canSeek() && seeked.isEmpty());
    QVERIFY(!pane.findChild<QAbstractSlider *>(QStringLiteral("positionSlider"))->isEnabled());
    // Too narrow for the whole line: cut short with an ellipsis.
    auto *label = pane.findChild<QLabel *>(QStringLiteral("statusLabel"));
    label->resize(label->fontMetrics().horizontalAdvance(line) / 2, label->height());
    QTRY_VERIFY2(label->text().endsWith(QChar(0x2026)) && line.startsWith(label->text().chopped(1)), qPrintable(label->text()));

    // The play button tries the clip again; the next good address plays,
    // and its states show again.
    pane.playback()->setAudioSink(qEnvironmentVariable("BRIMWOLD_AUDIO_SINK"));
    const int fetches = m_server.requestCount(path);
    pane.findChild<QAbstractButton *>(QStringLiteral("playButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount(path) > fetches, 10000);
    pane.setProperty("URL", QVariant(address("/voice/a")));
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Playing, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("播放完毕"), 15000);
}

void TestMediaPane::controls_data()
{
    // Each gesture starts from the long clip paused at 0:20, and is a list
    // of steps.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("play button") << "play button" << "state" << "Playing";
    QTest::newRow("stop button") << "stop button" << "state" << "Stopped";
    QTest::newRow("Space on a pane control") << "Space" << "state" << "Playing";
    QTest::newRow("play/pause media key") << "media play/pause" << "state" << "Playing";
    QTest::newRow("stop media key") << "media stop" << "state" << "Stopped";
    QTest::newRow("mute") << "mute" << "muted" << "true";
    QTest::newRow("mute toggles back") << "mute, mute" << "muted" << "false";
    QTest::newRow("mute stays for the next clip") << "mute, next clip" << "muted" << "true";
    QTest::newRow("volume slider") << "volume 40" << "volume" << "40 音量：40%";
    QTest::newRow("volume at start") << "" << "volume" << "100 音量：100%";
    QTest::newRow("volume stays for the next clip") << "volume 40, next clip" << "volume" << "40 音量：40%";
    QTest::newRow("speed") << "speed 1.5" << "rate" << "1.5";
    QTest::newRow("speed back to 1x") << "speed 2, speed 1" << "rate" << "1";
    QTest::newRow("speed stays for the next clip") << "speed 2, next clip" << "pace" << "2";
    QTest::newRow("a seek keeps the speed") << "speed 2, play button, Right" << "pace" << "2";
    QTest::newRow("slowest speed") << "speed 0.5, play button" << "pace" << "0.5";
    QTest::newRow("fastest speed") << "speed 3, play button" << "pace" << "3";
    QTest::newRow("Right") << "Right" << "position" << "25";
    QTest::newRow("Left") << "Left" << "position" << "15";
    QTest::newRow("PageUp") << "PageUp" << "position" << "50";
    QTest::newRow("PageDown") << "PageDown" << "position" << "0";
    QTest::newRow("Home") << "Home" << "position" << "0";
    QTest::newRow("End") << "End" << "position" << "end";
    QTest::newRow("End while playing finishes the clip") << "play button, End" << "status" << "播放完毕";
    QTest::newRow("click on the track") << "click in the middle" << "position" << "half";
    QTest::newRow("seek while playing") << "play button, seek 60" << "playing from" << "60";
    QTest::newRow("arrow key while playing") << "play button, Right" << "playing from" << "25";
    QTest::newRow("speed change while playing") << "play button, speed 2" << "playing from" << "20";
    QTest::newRow("time") << "Home" << "time" << "0:00 | 0 秒";
    QTest::newRow("time at a minute") << "seek 60" << "time" << "1:00 | 1 分 0 秒";
    QTest::newRow("time past an hour") << "hour-long clip, seek 3661" << "time" << "1:01:01 | 1 小时 1 分 1 秒";
    QTest::newRow("a seek made as the clip ends plays from its target") << "play button, ended unseen, seek 30"
                                                                        << "playing from" << "30";
    QTest::newRow("twenty seeks in one turn end at the last") << "play button, twenty seeks" << "playing from" << "60";
    QTest::newRow("a seek past what has arrived waits for it") << "stalling clip, play button, seek 60"
                                                               << "buffering, then playing from" << "60";
    QTest::newRow("the sound server asks for a pause") << "play button, sink asks PAUSED" << "state" << "Paused";
    QTest::newRow("and lets it go on") << "play button, sink asks PAUSED, sink asks PLAYING" << "state" << "Playing";
    QTest::newRow("a pause of the user's own stays") << "sink asks PLAYING" << "state" << "Paused";
    QTest::newRow("a go-ahead while playing changes nothing") << "play button, sink asks PLAYING" << "state" << "Playing";
    QTest::newRow("early pause on the next clip") << "slow clip early pause" << "state" << "Paused";
}

void TestMediaPane::controls()
{
    QFETCH(QString, gesture);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    SinkProbe probe;
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

    // Paused before the clip's length is known: once it is known the clip
    // waits at the start, nothing has been heard, and it can seek.
    pane.playback()->setAudioSink(SinkProbe::sink());
    const QString longClip = QStringLiteral("/voice/long");
    const int fetchesBefore = m_server.requestCount(longClip);
    int clipsSet = 1;
    pane.setProperty("URL", QVariant(address("/voice/long")));
    QVERIFY(probe.attach(pane.playback()));
    QCOMPARE(pane.playback()->duration(), 0);
    QElapsedTimer sincePause;
    sincePause.start();
    play->click();
    QTRY_VERIFY_WITH_TIMEOUT(pane.canSeek(), 10000);
    QTRY_COMPARE(pane.playback()->state(), Playback::State::Paused);
    QCOMPARE(pane.playback()->position(), 0);
    QCOMPARE(probe.buffers(), 0);
    pane.seekTo(20000);
    const qint64 duration = pane.playback()->duration();
    QVERIFY(duration > 60000);

    const QMap<QString, Qt::Key> keys{{"Right", Qt::Key_Right}, {"Left", Qt::Key_Left}, {"PageUp", Qt::Key_PageUp},
                                      {"PageDown", Qt::Key_PageDown}, {"Home", Qt::Key_Home}, {"End", Qt::Key_End}};
    for (const QString &step : gesture.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QString argument = step.section(QLatin1Char(' '), 1);
        if (step == QLatin1String("play button")) {
            play->click();
        } else if (step == QLatin1String("stop button")) {
            stop->click();
        } else if (step == QLatin1String("Space")) {
            speed->setFocus();
            QTest::keyClick(speed, Qt::Key_Space);
        } else if (step == QLatin1String("media play/pause")) {
            QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaTogglePlayPause, QString(), Qt::NoModifier);
        } else if (step == QLatin1String("media stop")) {
            QTest::sendKeyEvent(QTest::Click, &pane, Qt::Key_MediaStop, QString(), Qt::NoModifier);
        } else if (step == QLatin1String("mute")) {
            mute->click();
        } else if (step.startsWith(QLatin1String("volume "))) {
            volume->setValue(argument.toInt());
        } else if (step.startsWith(QLatin1String("speed "))) {
            speed->setCurrentIndex(speed->findText(argument + QStringLiteral("×")));
            QVERIFY(speed->currentIndex() >= 0);
        } else if (step.startsWith(QLatin1String("seek "))) {
            pane.seekTo(argument.toLongLong() * 1000);
        } else if (step == QLatin1String("next clip")) {
            pane.setProperty("URL", QVariant(address("/voice/long")));
            ++clipsSet;
            QVERIFY(QTest::qWaitFor([&] { return pane.playback()->position() > 200; }, 10000));
        } else if (step == QLatin1String("slow clip early pause")) {
            // The first clip's pause is over; this clip is answered 2 s late.
            QTest::qWait(int(qMax<qint64>(0, 1500 - sincePause.elapsed())));
            pane.setProperty("URL", QVariant(address("/voice/slow")));
            play->click();
            QTRY_VERIFY_WITH_TIMEOUT(pane.canSeek(), 10000);
        } else if (step == QLatin1String("stalling clip") || step == QLatin1String("hour-long clip")) {
            pane.setProperty("URL", QVariant(address(step == QLatin1String("stalling clip") ? "/voice/stalling" : "/voice/hour")));
            play->click();
            QTRY_VERIFY_WITH_TIMEOUT(pane.canSeek(), 10000);
        } else if (step == QLatin1String("ended unseen")) {
            // The clip ends while the window is busy: its end waits on the
            // bus when the next seek is made.
            pane.seekTo(duration - 1000);
            QVERIFY(QTest::qWaitFor([&] { return pane.playback()->position() > duration - 800; }, 10000));
            QThread::msleep(1500);
        } else if (step == QLatin1String("twenty seeks")) {
            for (int i = 1; i <= 20; ++i)
                pane.seekTo(i * 3000);
        } else if (step.startsWith(QLatin1String("sink asks "))) {
            GstElement *sink = pane.playback()->audioSink();
            gst_element_post_message(sink, gst_message_new_request_state(GST_OBJECT(sink),
                argument.endsWith(QLatin1String("PAUSED")) ? GST_STATE_PAUSED : GST_STATE_PLAYING));
            QTest::qWait(100);
        } else if (step == QLatin1String("click in the middle")) {
            QStyleOptionSlider option;
            option.initFrom(track);
            option.orientation = Qt::Horizontal;
            option.minimum = track->minimum();
            option.maximum = track->maximum();
            const QRect groove = track->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, track);
            QTest::mouseClick(track, Qt::LeftButton, {}, groove.center());
        } else {
            QVERIFY2(keys.contains(step), qPrintable(step));
            track->setFocus();
            QTest::keyClick(track, keys.value(step));
        }
    }

    // How loud the clip plays now.
    const auto peak = [&] {
        if (pane.playback()->state() != Playback::State::Playing)
            pane.play();
        const qint64 from = pane.playback()->position();
        if (!QTest::qWaitFor([&] { return pane.playback()->position() > from + 300; }, 10000))
            return -1;
        probe.restart();
        QTest::qWait(400);
        return probe.peak();
    };
    if (what == QLatin1String("state")) {
        QTRY_COMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(pane.playback()->state()))),
                     expected);
        // A player that does not play keeps no timer running.
        const auto *ticker = pane.playback()->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(ticker && ticker->isActive() == (expected == QLatin1String("Playing")));
    } else if (what == QLatin1String("status")) {
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), expected, 10000);
        QCOMPARE(pane.playback()->state(), Playback::State::Stopped);
    } else if (what == QLatin1String("muted")) {
        QCOMPARE(pane.playback()->isMuted() ? "true" : "false", expected);
        const int loudest = peak();
        QVERIFY2(expected == QLatin1String("true") ? loudest == 0 : loudest > 0.8 * kTonePeak, qPrintable(QString::number(loudest)));
    } else if (what == QLatin1String("volume")) {
        QCOMPARE(QStringLiteral("%1 %2").arg(pane.playback()->volume()).arg(volume->toolTip()), expected);
        QCOMPARE(volume->value(), pane.playback()->volume());
        // The slider's scale is cubic, as on the desktop's own controls.
        const double heard = peak() / kTonePeak;
        const double wanted = std::pow(pane.playback()->volume() / 100.0, 3);
        QVERIFY2(qAbs(heard - wanted) <= 0.15 * wanted, qPrintable(QStringLiteral("%1, not %2").arg(heard).arg(wanted)));
    } else if (what == QLatin1String("rate")) {
        QTRY_COMPARE(QString::number(pane.playback()->rate()), expected);
        QCOMPARE(QString::number(pane.speed()), expected);
    } else if (what == QLatin1String("pace")) {
        // Seconds of clip per second of wall clock: a player may say one
        // speed and play another.
        QTRY_COMPARE(pane.playback()->state(), Playback::State::Playing);
        QVERIFY(QTest::qWaitFor([&] { return pane.playback()->status() != Playback::Status::Loading; }, 10000));
        QTest::qWait(300);
        const qint64 from = pane.playback()->position();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(1500);
        const double pace = double(pane.playback()->position() - from) / double(wall.elapsed());
        QVERIFY2(qAbs(pace - expected.toDouble()) <= 0.15 * expected.toDouble(), qPrintable(QString::number(pace)));
    } else if (what == QLatin1String("time")) {
        // As shown, and as a screen reader says it.
        const QLabel *time = pane.findChild<QLabel *>(QStringLiteral("timeLabel"));
        QCOMPARE(time->text().section(QLatin1Char(' '), 0, 0), expected.section(QStringLiteral(" | "), 0, 0));
        QCOMPARE(time->accessibleName().section(QStringLiteral("，"), 0, 0),
                 QStringLiteral("播放时间：已播放 ") + expected.section(QStringLiteral(" | "), 1));
    } else if (what == QLatin1String("buffering, then playing from")) {
        // Shown at the target while it waits, and going on from there.
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("缓冲中…"), 10000);
        QCOMPARE(pane.playback()->position(), expected.toLongLong() * 1000);
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > expected.toLongLong() * 1000 + 500, 15000);
        QVERIFY(pane.playback()->position() < expected.toLongLong() * 1000 + 5000);
        QCOMPARE(pane.statusText(), address("/voice/stalling"));
        return;
    } else if (what == QLatin1String("playing from")) {
        // Plays on from there: not from the start, not stopped.
        const qint64 from = expected.toLongLong() * 1000;
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > from + 500, 10000);
        QCOMPARE(pane.playback()->state(), Playback::State::Playing);
        QVERIFY2(pane.playback()->position() < from + 5000, qPrintable(QString::number(pane.playback()->position())));
        QCOMPARE(pane.statusText(), address("/voice/long"));
    } else {
        const qint64 want = expected == QLatin1String("end") ? duration
            : expected == QLatin1String("half")          ? duration / 2
                                                         : expected.toLongLong() * 1000;
        QTRY_VERIFY2(qAbs(pane.playback()->position() - want) <= 1500,
                     qPrintable(QStringLiteral("%1 ms, not %2 ms").arg(pane.playback()->position()).arg(want)));
    }
    // Each clip is fetched once, whatever seeks and speed changes it saw.
    QCOMPARE(m_server.requestCount(longClip) - fetchesBefore, clipsSet);
}

void TestMediaPane::pitchKeptAtEverySpeed_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
    QTest::newRow("0.5x") << 0.5;
}

void TestMediaPane::pitchKeptAtEverySpeed()
{
    QFETCH(double, rate);
    SinkProbe probe;
    Playback playback;
    playback.setAudioSink(SinkProbe::sink());
    playback.setSource(QUrl(address("/voice/long")));
    QVERIFY(probe.attach(&playback));
    playback.setRate(rate);
    playback.play();
    QTRY_VERIFY_WITH_TIMEOUT(playback.position() > 1000, 10000);

    probe.restart();
    const qint64 from = playback.position();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(2000);
    const double pace = double(playback.position() - from) / double(wall.elapsed());
    const double hz = probe.frequency();
    QVERIFY2(qAbs(hz - kToneHz) <= 0.05 * kToneHz, qPrintable(QStringLiteral("%1 Hz at %2x").arg(hz).arg(rate)));
    QVERIFY2(qAbs(pace - rate) <= 0.1 * rate, qPrintable(QStringLiteral("%1 s of clip a second at %2x").arg(pace).arg(rate)));
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

    // A screen reader hears the status line's text at once, in full.
    const QString notice = QStringLiteral("无法打开文章：不是网页地址");
    pane.showNotice(notice, QString(), MediaPane::Notice::Lasting);
    QCOMPARE(pane.findChild<QLabel *>(QStringLiteral("statusLabel"))->accessibleDescription(), notice);
}

void TestMediaPane::desktopMediaControls_data()
{
    // Each row starts from the long clip, listed as "第三回 远行" of the
    // article "新书", playing from 0:20 (unless the action starts with "no
    // clip"); a client or the user then acts, in steps.
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    const QString bus = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    QTest::newRow("identity") << "" << "root Identity" << "Sorvalen Brimwold";
    QTest::newRow("desktop entry") << "" << "root DesktopEntry" << "org.sorvalen.Brimwold";
    QTest::newRow("cannot quit") << "" << "root CanQuit" << "false";
    QTest::newRow("can raise") << "" << "root CanRaise" << "true";
    QTest::newRow("no track list") << "" << "root HasTrackList" << "false";
    QTest::newRow("opens web addresses") << "" << "root SupportedUriSchemes" << "http https";
    QTest::newRow("no file types") << "" << "root SupportedMimeTypes" << "";
    QTest::newRow("Raise shows the window") << "call root Raise" << "window" << "shown";
    QTest::newRow("Raise brings back a minimized window") << "minimized, call root Raise" << "window" << "shown";
    QTest::newRow("Quit leaves it playing") << "call root Quit" << "status" << "Playing";
    QTest::newRow("stopped before any clip") << "no clip" << "status" << "Stopped";
    QTest::newRow("nothing to play before any clip") << "no clip" << "property CanPlay" << "false";
    QTest::newRow("nothing to seek before any clip") << "no clip" << "property CanSeek" << "false";
    QTest::newRow("no track before any clip") << "no clip" << "metadata mpris:trackid"
                                              << "/org/mpris/MediaPlayer2/TrackList/NoTrack";
    QTest::newRow("no length before any clip") << "no clip" << "metadata mpris:length" << "0";
    QTest::newRow("the first clip is announced")
        << "no clip, clip" << "changed"
        << "CanPause=true; CanPlay=true; CanSeek=true; Metadata=/org/sorvalen/Brimwold/clip/1; PlaybackStatus=Playing";
    QTest::newRow("playing") << "" << "status" << "Playing";
    QTest::newRow("address") << "" << "metadata xesam:url" << "/voice/long";
    QTest::newRow("length") << "" << "metadata mpris:length" << "92";
    QTest::newRow("track id") << "" << "metadata mpris:trackid" << "/org/sorvalen/Brimwold/clip/1";
    QTest::newRow("title is the listed name") << "" << "metadata xesam:title" << "第三回 远行";
    QTest::newRow("album is the article") << "" << "metadata xesam:album" << "新书";
    QTest::newRow("a clip not listed is titled by its address") << "unlisted clip" << "metadata xesam:title"
                                                                << "/voice/b";
    QTest::newRow("a clip not listed has no album") << "unlisted clip" << "metadata xesam:album" << "";
    QTest::newRow("a new clip gets a new track id") << "next clip" << "metadata mpris:trackid"
                                                    << "/org/sorvalen/Brimwold/clip/2";
    QTest::newRow("a new clip is announced without a stop")
        << "next clip" << "changed" << "CanSeek=true; Metadata=/org/sorvalen/Brimwold/clip/2";
    QTest::newRow("can play, pause, seek and be controlled") << "" << "properties CanPlay CanPause CanSeek CanControl"
                                                             << "true true true true";
    QTest::newRow("no next or previous clip") << "" << "properties CanGoNext CanGoPrevious" << "false false";
    QTest::newRow("Next changes nothing") << "call Next" << "metadata mpris:trackid" << "/org/sorvalen/Brimwold/clip/1";
    QTest::newRow("Previous changes nothing") << "call Previous" << "status" << "Playing";
    QTest::newRow("PlayPause") << "call PlayPause" << "changed" << "PlaybackStatus=Paused";
    QTest::newRow("Pause") << "call Pause" << "changed" << "PlaybackStatus=Paused";
    QTest::newRow("Play after Pause") << "call Pause, call Play" << "status" << "Playing";
    QTest::newRow("PlayPause after Pause") << "call Pause, call PlayPause" << "status" << "Playing";
    QTest::newRow("Stop") << "call Stop" << "changed" << "PlaybackStatus=Stopped";
    QTest::newRow("SetPosition") << "call SetPosition current 30" << "position" << "30";
    QTest::newRow("SetPosition is announced") << "call SetPosition current 30" << "seeked exactly" << "30000000";
    QTest::newRow("Position in microseconds") << "call Pause, call SetPosition current 30" << "position exactly"
                                              << "30000000";
    QTest::newRow("SetPosition for an earlier clip is ignored") << "next clip, call SetPosition stale 60"
                                                                << "position under" << "10";
    QTest::newRow("SetPosition past the end is ignored") << "call SetPosition current 1000" << "position" << "20";
    QTest::newRow("SetPosition before the start is ignored") << "call SetPosition current -5" << "position" << "20";
    QTest::newRow("Seek") << "call Seek 5" << "position" << "25";
    QTest::newRow("Seek back") << "call Seek -5" << "position" << "15";
    QTest::newRow("Seek is announced") << "call Seek 5" << "seeked" << "25000000";
    QTest::newRow("a clip cut short cannot seek once played") << "clip cut short, call Seek -2" << "not seeked"
                                                               << "CanSeek=false";
    QTest::newRow("Volume") << "set Volume 0.4" << "pane volume" << "40";
    QTest::newRow("Volume over 1 is full") << "set Volume 1.5" << "pane volume" << "100";
    QTest::newRow("Volume under 0 is none") << "set Volume -1" << "pane volume" << "0";
    QTest::newRow("Volume reads the slider") << "pane volume 40" << "property Volume" << "0.4";
    QTest::newRow("volume is announced") << "pane volume 40" << "changed" << "Volume=0.4";
    QTest::newRow("Volume while muted") << "mute" << "property Volume" << "0";
    QTest::newRow("mute is announced") << "mute" << "changed" << "Volume=0";
    QTest::newRow("setting Volume unmutes") << "mute, set Volume 0.5" << "pane muted" << "false";
    QTest::newRow("Volume 0 keeps it muted") << "mute, set Volume 0" << "pane muted" << "true";
    QTest::newRow("the least Volume unmutes") << "mute, set Volume 0.01" << "property Volume" << "0.01";
    QTest::newRow("Rate") << "set Rate 2" << "pane speed" << "2";
    QTest::newRow("Rate goes to the nearest speed") << "set Rate 1.6" << "pane speed" << "1.5";
    QTest::newRow("Rate 0 is ignored") << "set Rate 0" << "pane speed" << "1";
    QTest::newRow("Rate reads the speed") << "pane speed 1.5" << "property Rate" << "1.5";
    QTest::newRow("speed is announced") << "pane speed 2" << "changed" << "Rate=2";
    QTest::newRow("slowest rate") << "" << "property MinimumRate" << "0.5";
    QTest::newRow("fastest rate") << "" << "property MaximumRate" << "3";
    QTest::newRow("OpenUri hands the article to the window") << "call OpenUri https://mp.weixin.qq.com/s/abc"
                                                             << "open" << "https://mp.weixin.qq.com/s/abc";
    QTest::newRow("the name when another program has it")
        << "name taken" << "service" << bus + QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid());
    QTest::newRow("the name is given back") << "" << "name given back" << "yes";
    QTest::newRow("a second pane of the program stays off the bus") << "second pane" << "service" << bus;
}

void TestMediaPane::desktopMediaControls()
{
    QFETCH(QString, action);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    QDBusConnection bus(QStringLiteral("client"));
    if (!bus.isConnected())
        QSKIP("no session bus could be started (dbus-daemon)");
    const QString plainName = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
    const QString busAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    // Another program, when one is needed.
    const auto other = [&] { return QDBusConnection::connectToBus(busAddress, QStringLiteral("other")); };
    const auto cleanup = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("other")); });
    if (action == QLatin1String("name taken"))
        QVERIFY(other().registerService(plainName));

    auto pane = std::make_unique<MediaPane>();
    QSignalSpy opened(pane.get(), &MediaPane::openRequested);
    const QString service = pane->findChild<MprisService *>()->serviceName();
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
    const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
    // The player runs on this thread: calls to it must not block it.
    const auto call = [&](const QString &interface, const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus.asyncCall(message);
        return QTest::qWaitFor([&] { return pending.isFinished(); }, 10000) ? pending.reply() : QDBusMessage();
    };
    const auto get = [&](const QString &interface, const QString &name) {
        const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {interface, name});
        return reply.arguments().isEmpty() ? QVariant() : qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
    };
    const auto property = [&](const QString &name) { return get(playerInterface, name); };
    const auto metadata = [&] { return qdbus_cast<QVariantMap>(property(QStringLiteral("Metadata"))); };
    QCOMPARE(get(rootInterface, QStringLiteral("Identity")).toString(), QStringLiteral("Sorvalen Brimwold"));
    const auto clip = [&](const char *clipPath) {
        pane->setClipNames({{address("/voice/long"), QStringLiteral("第三回 远行")}}, QStringLiteral("新书"));
        pane->setProperty("URL", QVariant(address(clipPath)));
    };

    const QStringList steps = action.split(QStringLiteral(", "), Qt::SkipEmptyParts);
    if (!action.startsWith(QLatin1String("no clip"))) {
        clip("/voice/long");
        QTRY_VERIFY_WITH_TIMEOUT(property(QStringLiteral("CanSeek")).toBool(), 10000);
        pane->seekTo(20000);
        QTRY_VERIFY_WITH_TIMEOUT(pane->playback()->position() > 20300, 10000);
    }
    QTest::qWait(50); // what the start announced is not the row's
    QSignalSpy changes(this, SIGNAL(propertiesChanged(QString, QVariantMap, QStringList)));
    QSignalSpy seeked(this, SIGNAL(seeked(qlonglong)));
    const QString earlierTrack = qdbus_cast<QDBusObjectPath>(metadata().value(QStringLiteral("mpris:trackid"))).path();

    std::unique_ptr<MediaPane> second;
    for (const QString &step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (step == QLatin1String("clip")) {
            clip("/voice/long");
        } else if (step == QLatin1String("next clip")) {
            clip("/voice/long");
            QTRY_VERIFY_WITH_TIMEOUT(property(QStringLiteral("CanSeek")).toBool(), 10000);
        } else if (step == QLatin1String("clip cut short")) {
            pane->setProperty("URL", QVariant(address("/voice/cut")));
            QTRY_VERIFY_WITH_TIMEOUT(pane->canSeek(), 10000);
            pane->seekTo(3000);
            QTRY_VERIFY_WITH_TIMEOUT(pane->statusText().startsWith(QStringLiteral("音频未下载完整")), 10000);
            seeked.clear();
        } else if (step == QLatin1String("unlisted clip")) {
            pane->setProperty("URL", QVariant(address("/voice/b")));
        } else if (step == QLatin1String("second pane")) {
            second = std::make_unique<MediaPane>();
            QVERIFY(second->findChild<MprisService *>()->serviceName().isEmpty());
        } else if (step == QLatin1String("minimized")) {
            pane->showMinimized();
            QTRY_VERIFY(pane->isMinimized());
        } else if (step == QLatin1String("mute")) {
            pane->playback()->setMuted(true);
        } else if (step.startsWith(QLatin1String("pane volume "))) {
            pane->playback()->setVolume(words.value(2).toInt());
        } else if (step.startsWith(QLatin1String("pane speed "))) {
            pane->setSpeed(words.value(2).toDouble());
        } else if (words.first() == QLatin1String("call")) {
            const QString &target = words.value(1) == QLatin1String("root") ? rootInterface : playerInterface;
            const QString method = words.value(1) == QLatin1String("root") ? words.value(2) : words.value(1);
            QVariantList arguments;
            if (method == QLatin1String("SetPosition"))
                arguments << QVariant::fromValue(QDBusObjectPath(words.value(2) == QLatin1String("current")
                                                                     ? qdbus_cast<QDBusObjectPath>(metadata().value(QStringLiteral("mpris:trackid"))).path()
                                                                     : earlierTrack))
                          << qlonglong(words.value(3).toLongLong() * 1000000);
            else if (method == QLatin1String("Seek"))
                arguments << qlonglong(words.value(2).toLongLong() * 1000000);
            else if (method == QLatin1String("OpenUri"))
                arguments << words.value(2);
            const QDBusMessage reply = call(target, method, arguments);
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        } else if (words.first() == QLatin1String("set")) {
            const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                                            {playerInterface, words.value(1), QVariant::fromValue(QDBusVariant(words.value(2).toDouble()))});
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        } else if (step != QLatin1String("no clip") && step != QLatin1String("name taken")) {
            QFAIL(qPrintable(step));
        }
        QTest::qWait(100);
    }

    const auto text = [](const QVariant &value) {
        if (value.userType() == qMetaTypeId<QDBusArgument>()) { // a map on the wire
            const QVariantMap map = qdbus_cast<QVariantMap>(value);
            return qdbus_cast<QDBusObjectPath>(map.value(QStringLiteral("mpris:trackid"))).path();
        }
        if (value.userType() == QMetaType::QVariantMap)
            return qdbus_cast<QDBusObjectPath>(value.toMap().value(QStringLiteral("mpris:trackid"))).path();
        return value.canConvert<QStringList>() && value.userType() != QMetaType::QString ? value.toStringList().join(' ')
                                                                                           : value.toString();
    };
    const QString here = m_server.baseUrl();
    if (what == QLatin1String("status")) {
        QTRY_COMPARE(property(QStringLiteral("PlaybackStatus")).toString(), expected);
    } else if (what.startsWith(QLatin1String("root "))) {
        QCOMPARE(text(get(rootInterface, what.mid(5))), expected);
    } else if (what.startsWith(QLatin1String("property "))) {
        QTRY_COMPARE(text(property(what.mid(9))), expected);
    } else if (what.startsWith(QLatin1String("properties "))) {
        QStringList values;
        for (const QString &name : what.mid(11).split(QLatin1Char(' ')))
            values.append(text(property(name)));
        QCOMPARE(values.join(QLatin1Char(' ')), expected);
    } else if (what.startsWith(QLatin1String("metadata "))) {
        const QString key = what.mid(9);
        const auto shown = [&] {
            const QVariant value = metadata().value(key);
            if (key == QLatin1String("mpris:trackid"))
                return qdbus_cast<QDBusObjectPath>(value).path();
            if (key == QLatin1String("mpris:length"))
                return QString::number(qRound(value.toLongLong() / 1e6));
            return value.toString().replace(here, QString());
        };
        QTRY_COMPARE(shown(), expected);
        // In microseconds, to the millisecond the pane knows.
        if (key == QLatin1String("mpris:length"))
            QCOMPARE(metadata().value(key).toLongLong(), pane->playback()->duration() * 1000);
    } else if (what == QLatin1String("position")) {
        const auto position = [&] { return property(QStringLiteral("Position")).toLongLong(); };
        QTRY_VERIFY2(qAbs(position() - expected.toLongLong() * 1000000) < 1500000, qPrintable(QString::number(position())));
    } else if (what == QLatin1String("position exactly")) {
        const auto position = [&] { return property(QStringLiteral("Position")).toLongLong(); };
        QTRY_VERIFY2(qAbs(position() - expected.toLongLong()) < 5000, qPrintable(QString::number(position())));
    } else if (what == QLatin1String("position under")) {
        QTest::qWait(300);
        const qint64 position = property(QStringLiteral("Position")).toLongLong();
        QVERIFY2(position < expected.toLongLong() * 1000000, qPrintable(QString::number(position)));
    } else if (what.startsWith(QLatin1String("seeked"))) {
        QTRY_COMPARE(seeked.count(), 1);
        QVERIFY2(qAbs(seeked.first().first().toLongLong() - expected.toLongLong()) < (what.endsWith("exactly") ? 5000 : 1500000),
                 qPrintable(QString::number(seeked.first().first().toLongLong())));
    } else if (what == QLatin1String("not seeked")) {
        QTest::qWait(300);
        QVERIFY(seeked.isEmpty());
        QCOMPARE(QStringLiteral("CanSeek=") + text(property(QStringLiteral("CanSeek"))), expected);
    } else if (what == QLatin1String("changed")) {
        // All that was announced, each property as it was last announced:
        // nothing missing, nothing more.
        QTest::qWait(800);
        QMap<QString, QString> merged;
        for (const QList<QVariant> &signal : qAsConst(changes)) {
            QCOMPARE(signal.at(0).toString(), QStringLiteral("org.mpris.MediaPlayer2.Player"));
            const QVariantMap changed = qdbus_cast<QVariantMap>(signal.at(1));
            QVERIFY(!changed.isEmpty());
            for (auto it = changed.cbegin(); it != changed.cend(); ++it)
                merged.insert(it.key(), text(it.value()));
        }
        QStringList pairs;
        for (auto it = merged.cbegin(); it != merged.cend(); ++it)
            pairs.append(it.key() + QLatin1Char('=') + it.value());
        QCOMPARE(pairs.join(QStringLiteral("; ")), expected);
        // Once all is announced the service sleeps: no timer spins the CPU.
        for (const QTimer *timer : pane->findChild<MprisService *>()->findChildren<QTimer *>())
            QVERIFY(!timer->isActive());
    } else if (what == QLatin1String("pane volume")) {
        QTRY_COMPARE(QString::number(pane->playback()->volume()), expected);
    } else if (what == QLatin1String("pane muted")) {
        QTRY_COMPARE(pane->playback()->isMuted() ? QStringLiteral("true") : QStringLiteral("false"), expected);
    } else if (what == QLatin1String("pane speed")) {
        QTRY_COMPARE(QString::number(pane->speed()), expected);
    } else if (what == QLatin1String("open")) {
        QTRY_COMPARE(opened.count(), 1);
        QCOMPARE(opened.first().first().toStringList(), QStringList{expected});
    } else if (what == QLatin1String("window")) {
        QTRY_VERIFY(pane->isVisible());
        QTRY_VERIFY(pane->isActiveWindow());
        QVERIFY(!pane->isMinimized());
    } else if (what == QLatin1String("service")) {
        QCOMPARE(service, expected);
        QCOMPARE(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    } else if (what == QLatin1String("name given back")) {
        pane.reset();
        QVERIFY(other().registerService(plainName));
    } else {
        QFAIL(qPrintable(what));
    }
}

QTEST_MAIN(TestMediaPane)
#include "tst_mediapane.moc"
