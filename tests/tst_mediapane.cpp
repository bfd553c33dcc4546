#include "media/idleinhibitor.h"
#include "media/mediapane.h"
#include "media/mprisservice.h"
#include "media/sleeptimer.h"

#include "sinkrecorder.h"
#include "soundserver.h"
#include "stallmeter.h"
#include "synthclip.h"
#include "testserver.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QMenu>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QtTest>

#include <gst/gst.h>

#include <unistd.h>

#include <atomic>
#include <cmath>

namespace {

// Counts what the pipeline's bus is told, as it is posted, without taking
// anything from the player that reads it.
class BusWatch
{
public:
    explicit BusWatch(Playback *playback)
        : m_bus(gst_element_get_bus(GST_ELEMENT(pipelineOf(playback->audioSink()))))
    {
        gst_bus_set_sync_handler(m_bus, &BusWatch::posted, this, nullptr);
    }
    ~BusWatch()
    {
        gst_bus_set_sync_handler(m_bus, nullptr, nullptr, nullptr);
        gst_object_unref(m_bus);
    }
    int requests() const { return m_requests; }
    // The player went from playing to paused and back: how often.
    int replays() const { return m_replays; }
    // The player has taken every message posted so far.
    bool drained() const { return !gst_bus_have_pending(m_bus); }

private:
    // Each bin has a bus of its own for its children: the player's is the top one.
    static GstObject *pipelineOf(GstElement *element)
    {
        GstObject *top = GST_OBJECT(element);
        while (GST_OBJECT_PARENT(top))
            top = GST_OBJECT_PARENT(top);
        return top;
    }
    static GstBusSyncReply posted(GstBus *, GstMessage *message, gpointer data)
    {
        auto *self = static_cast<BusWatch *>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_REQUEST_STATE)
            ++self->m_requests;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STATE_CHANGED && !GST_OBJECT_PARENT(GST_MESSAGE_SRC(message))) {
            GstState was = GST_STATE_VOID_PENDING;
            GstState now = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(message, &was, &now, nullptr);
            if (was == GST_STATE_PLAYING && now == GST_STATE_PAUSED)
                self->m_paused = true;
            else if (now == GST_STATE_PLAYING && self->m_paused.exchange(false))
                ++self->m_replays;
        }
        return GST_BUS_PASS;
    }

    GstBus *m_bus;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_paused{false};
    std::atomic<int> m_replays{0};
};

// The desktop's inhibitors, as real peers on connections of their own: the
// portal's Inhibit (with a Request object for each) and logind's, which
// hands out a descriptor that is held while open. What they are asked is
// kept as text.
QMutex peerMutex; // the peers' thread writes what they were asked, the test reads it

class InhibitRequest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    InhibitRequest(QStringList *log, int *held, QObject *parent)
        : QObject(parent), m_log(log), m_held(held) {}

public slots:
    void Close()
    {
        QMutexLocker lock(&peerMutex);
        m_log->append(QStringLiteral("close"));
        --*m_held;
        deleteLater();
    }

private:
    QStringList *m_log;
    int *m_held;
};

// logind's Inhibit: a descriptor, held while it is open anywhere.
class Logind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QStringList log;
    int held = 0;
    int most = 0;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &, const QString &why, const QString &mode)
    {
        QMutexLocker lock(&peerMutex);
        int ends[2] = {-1, -1};
        if (pipe(ends) != 0)
            return QDBusUnixFileDescriptor();
        log.append(QStringLiteral("logind %1 %2 %3").arg(what, why, mode));
        most = qMax(most, ++held);
        // Held while the other end is open anywhere.
        auto *closed = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
        connect(closed, &QSocketNotifier::activated, this, [this, closed, end = ends[0]] {
            QMutexLocker lock(&peerMutex);
            closed->setEnabled(false);
            closed->deleteLater();
            ::close(end);
            log.append(QStringLiteral("closed"));
            --held;
        });
        const QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        return handed;
    }
};

class Inhibitors : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")

public:
    // On the session bus as the portal if `portal`, and on the system bus
    // as logind.
    Inhibitors(bool portal, QThread *thread)
    {
        moveToThread(thread);
        m_logind.moveToThread(thread);
        if (portal) {
            QDBusConnection session = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
            session.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots);
            session.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
        }
        QDBusConnection system = QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("logind"));
        system.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_logind, QDBusConnection::ExportAllSlots);
        system.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~Inhibitors() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
    }

    QString log() const
    {
        QMutexLocker lock(&peerMutex);
        return (m_log + m_logind.log).join(QStringLiteral("; "));
    }
    int held() const
    {
        QMutexLocker lock(&peerMutex);
        return m_held + m_logind.held;
    }
    int mostHeld() const
    {
        QMutexLocker lock(&peerMutex);
        return qMax(m_most, m_logind.most);
    }

public slots:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options)
    {
        QMutexLocker lock(&peerMutex);
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/t/%1").arg(++m_requests);
        QDBusConnection(QStringLiteral("portal"))
            .registerObject(path, new InhibitRequest(&m_log, &m_held, this), QDBusConnection::ExportAllSlots);
        m_log.append(QStringLiteral("inhibit %1 %2").arg(flags).arg(options.value(QStringLiteral("reason")).toString()));
        m_most = qMax(m_most, ++m_held + m_logind.held);
        return QDBusObjectPath(path);
    }

private:
    QStringList m_log;
    int m_held = 0;
    int m_most = 0;
    int m_requests = 0;
    Logind m_logind;
};

constexpr double kToneHz = 440;   // tone-a.mp3
constexpr float kTonePeak = 0.479f; // its loudest sample

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
    void brokenDownloads_data();
    void brokenDownloads();
    void soundServer_data();
    void soundServer();
    void sleepTimer_data();
    void sleepTimer();
    void idleInhibition_data();
    void idleInhibition();
    void controls_data();
    void controls();
    void pitchKeptAtEverySpeed_data();
    void pitchKeptAtEverySpeed();
    void fitsTheLowerPaneWithNamedControls();
    void desktopMediaControls_data();
    void desktopMediaControls();

private:
    static QByteArray clip(const char *name);
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
    QProcess m_bus;
    QProcess m_systemBus;
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
    // 24 s of tone, broken off: at half, or after a quarter by silence.
    TestServer::Response broken = TestServer::ok(a.repeated(8), "audio/mpeg");
    broken.closeMidBody = true;
    m_server.setResponse(QStringLiteral("/voice/broken"), broken);
    TestServer::Response quiet = TestServer::ok(a.repeated(8), "audio/mpeg");
    quiet.pauseAfter = quiet.body.size() / 4;
    quiet.pauseMs = 60000;
    m_server.setResponse(QStringLiteral("/voice/quiet"), quiet);
    // Less than a frame, then the connection is gone.
    TestServer::Response scrap;
    scrap.raw = true;
    scrap.body = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 30000\r\n\r\n" + a.left(100);
    m_server.setResponse(QStringLiteral("/voice/scrap"), scrap);
    // Words and pauses, for smart speed.
    SynthClip speech;
    speech.floor(-60).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    m_server.setResponse(QStringLiteral("/voice/pauses"), TestServer::ok(speech.wav(), "audio/wav"));
    // autoaudiosink may find the sound server's output, or nothing.
    qputenv("GST_PLUGIN_FEATURE_RANK", "alsasink:NONE,osssink:NONE,oss4sink:NONE,jackaudiosink:NONE,openalsink:NONE");

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
    // And a system bus, for logind.
    m_systemBus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                       QStringLiteral("--print-address")});
    if (m_systemBus.waitForReadyRead(10000))
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemBus.readLine().trimmed());
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
    m_systemBus.kill();
    m_systemBus.waitForFinished();
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
}

void TestMediaPane::unreachableAddressShowsErrorInPane()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    QFETCH(QString, detail);
    QFETCH(QString, sink);
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
    for (const char *control : {"positionSlider", "backButton", "forwardButton"})
        QVERIFY2(!pane.findChild<QWidget *>(QLatin1String(control))->isEnabled(), control);
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

void TestMediaPane::brokenDownloads_data()
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

void TestMediaPane::brokenDownloads()
{
    QFETCH(QString, path);
    QFETCH(int, part);
    QFETCH(bool, smart);
    QFETCH(QString, line);
    MediaPane pane;
    pane.playback()->setFetchLimits({16 * 1024 * 1024, 3000, 0});
    if (smart) {
        pane.findChild<QAbstractButton *>(QStringLiteral("skipSilenceButton"))->click();
        pane.findChild<QAbstractButton *>(QStringLiteral("voiceBoostButton"))->click();
    }
    QSignalSpy statuses(pane.playback(), &Playback::statusChanged);
    pane.setProperty("URL", QVariant(address(qPrintable(path))));
    if (part == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), line, 10000);
        for (const QList<QVariant> &status : qAsConst(statuses))
            QVERIFY(status.first().value<Playback::Status>() != Playback::Status::Loaded);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 300, 10000);
        const qint64 arrived = pane.playback()->duration() / part;
        QVERIFY(arrived > 4000);
        pane.seekTo(1000);
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 1500, 10000);
        QVERIFY(!pane.statusText().startsWith(QStringLiteral("音频")));
        pane.seekTo(arrived - 2000);
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), line, 15000);
        const qint64 stoppedAt = pane.findChild<QAbstractSlider *>(QStringLiteral("positionSlider"))->value();
        QVERIFY2(qAbs(stoppedAt - arrived) < 1000, qPrintable(QStringLiteral("%1 of %2 ms").arg(stoppedAt).arg(arrived)));
    }
    QVERIFY(!pane.canSeek());
    const QStringList tip = pane.statusToolTip().split(QLatin1Char('\n'));
    QVERIFY2(tip.size() == 2 && !tip.first().isEmpty() && tip.last() == address(qPrintable(path)), qPrintable(tip.join(QLatin1Char('|'))));
    // The next clip plays as if nothing had happened.
    pane.setProperty("URL", QVariant(address("/voice/a")));
    QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("播放完毕"), 15000);
}

void TestMediaPane::soundServer_data()
{
    // Played through a sound server of the test's own, as on a desktop: the
    // desktop's own output, which the server's monitor hears. A call is a
    // stream of the phone's, which the server pauses other players for.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");  // at the end
    QTest::addColumn<bool>("sounding");  // the output plays then
    QTest::newRow("a clip plays through the desktop's output") << "" << "Playing" << true;
    QTest::newRow("a call pauses the clip, and its end lets it go on") << "ring, hang up" << "Playing" << true;
    QTest::newRow("a pause of the user's own stays after a call") << "pause, ring, hang up" << "Paused" << false;
    // GStreamer tells of a lost clock only while the pipeline plays.
    QTest::newRow("a lost clock: another is chosen, and it plays on") << "clock lost" << "Playing" << true;
    QTest::newRow("no sound server: 缺少播放组件") << "server gone" << "Stopped" << false;
}

void TestMediaPane::soundServer()
{
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(bool, sounding);
    SoundServer sound;
    if (!sound.start())
        QFAIL(qPrintable(sound.error()));
    QVERIFY(sound.listen());
    if (steps == QLatin1String("server gone"))
        sound.stop();
    MediaPane pane;
    pane.playback()->setAudioSink(QString()); // the desktop's own
    pane.setProperty("URL", QVariant(address("/voice/long")));
    if (steps == QLatin1String("server gone")) {
        QTRY_COMPARE_WITH_TIMEOUT(pane.statusText(), QStringLiteral("无法播放此音频：缺少播放组件"), 10000);
        QVERIFY2(pane.statusToolTip().contains(QLatin1String("autoaudiosink found none")), qPrintable(pane.statusToolTip()));
        return;
    }
    // Its first sound reaches the output.
    QTRY_VERIFY_WITH_TIMEOUT(Heard::peak(sound.heard()) > 0.5f * kTonePeak, 10000);
    BusWatch bus(pane.playback());
    int requests = 0;
    for (const QString &step : steps.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("pause")) {
            pane.pause();
            QTRY_COMPARE(pane.playback()->state(), Playback::State::Paused);
        } else if (step == QLatin1String("ring") || step == QLatin1String("hang up")) {
            // The server asks the player's output to pause, or to go on.
            if (step == QLatin1String("ring"))
                QVERIFY(sound.ring());
            else
                sound.hangUp();
            QTRY_VERIFY_WITH_TIMEOUT(bus.requests() > requests, 10000);
            requests = bus.requests();
            QTRY_VERIFY(bus.drained());
            if (step == QLatin1String("ring"))
                QCOMPARE(pane.playback()->state(), Playback::State::Paused);
        } else if (step == QLatin1String("clock lost")) {
            GstElement *sink = pane.playback()->audioSink();
            GstClock *clock = gst_element_get_clock(sink);
            QVERIFY(clock);
            gst_element_post_message(sink, gst_message_new_clock_lost(GST_OBJECT(sink), clock));
            gst_object_unref(clock);
            // A new clock is chosen on the way from paused back to playing.
            QTRY_COMPARE_WITH_TIMEOUT(bus.replays(), 1, 10000);
        }
    }
    QCOMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(pane.playback()->state()))), state);
    // What the output plays from then on: the second half of a second of it,
    // after what was on its way.
    const qint64 from = pane.playback()->position();
    QVERIFY(sound.listen());
    QTRY_VERIFY_WITH_TIMEOUT(sound.heard().size() >= 16000, 10000);
    const float loudest = Heard::peak(sound.heard(), 1, 8000);
    QVERIFY2((loudest > 0.5f * kTonePeak) == sounding, qPrintable(QString::number(loudest)));
    QCOMPARE(pane.playback()->position() > from, sounding);
}

void TestMediaPane::sleepTimer_data()
{
    // The long clip plays; a minute lasts 200 ms here and the fade 1 s, so
    // that "15 分钟" runs out after 3 s of sound. Steps, in turn; then the
    // state and the seconds of sound heard until the timer paused the clip
    // (-1: it did not).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("seconds");
    QTest::newRow("the clip pauses where it is, fading out") << "15" << "Paused" << 3.0;
    QTest::newRow("a pause holds the count") << "15, pause, play" << "Paused" << 3.0;
    QTest::newRow("at 2x the count is real time") << "speed 2, 15" << "Paused" << 3.0;
    QTest::newRow("a second pick replaces the first") << "15, 30" << "Paused" << 6.0;
    QTest::newRow("cancelled") << "15, cancel" << "Playing" << -1.0;
    QTest::newRow("the volume changed in the fade: awake") << "15, volume in the fade" << "Playing" << -1.0;
}

void TestMediaPane::sleepTimer()
{
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(double, seconds);
    SinkRecorder probe;
    MediaPane pane;
    pane.sleepTimer()->setScale(200, 1000);
    pane.playback()->setAudioSink(SinkRecorder::sink());
    pane.setProperty("URL", QVariant(address("/voice/long")));
    QVERIFY(probe.attach(pane.playback()));
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 500, 10000);
    auto *button = pane.findChild<QToolButton *>(QStringLiteral("sleepButton"));
    QVERIFY(button && button->menu());
    const auto pick = [&](const QString &entry) {
        for (QAction *action : button->menu()->actions()) {
            if (action->text() == entry && action->isVisible())
                return action->trigger(), true;
        }
        return false;
    };
    probe.clear();
    for (const QString &step : steps.split(QStringLiteral(", "))) {
        if (step == QLatin1String("pause")) {
            pane.pause();
            QTest::qWait(1500); // time passes while paused
            QVERIFY(pane.sleepTimer()->remainingMs() > 0);
        } else if (step == QLatin1String("play")) {
            pane.play();
        } else if (step == QLatin1String("speed 2")) {
            pane.setSpeed(2);
        } else if (step == QLatin1String("cancel")) {
            QVERIFY(pick(QStringLiteral("取消定时")));
        } else if (step == QLatin1String("volume in the fade")) {
            QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->fade() < 0.9, 10000);
            pane.findChild<QAbstractSlider *>(QStringLiteral("volumeSlider"))->setValue(60);
        } else {
            QVERIFY(pick(step + QStringLiteral(" 分钟")));
            // It shows what is left, and says it in words.
            QVERIFY2(button->text().startsWith(QStringLiteral("睡眠 0:")), qPrintable(button->text()));
            QVERIFY2(button->accessibleName().startsWith(QStringLiteral("睡眠定时：还剩 ")), qPrintable(button->accessibleName()));
        }
    }
    const qint64 volume = pane.playback()->volume();
    if (seconds < 0) {
        // Plays on past where it would have ended, with no timer.
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate()) * 4, 10000);
        QCOMPARE(button->text(), QStringLiteral("睡眠定时"));
        QVERIFY(pane.playback()->fade() == 1.0);
        QCOMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(pane.playback()->state()))), state);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(pane.playback()->state(), Playback::State::Paused, 15000);
    const std::vector<float> heard = probe.samples();
    const double heardSeconds = double(heard.size()) / probe.channels() / probe.rate();
    QVERIFY2(qAbs(heardSeconds - seconds) < 0.4, qPrintable(QStringLiteral("paused after %1 s of sound").arg(heardSeconds)));
    // Faded over its last second, then given its volume back.
    const double early = Heard::rmsDb(heard, probe.rate(), probe.channels(), heardSeconds - 1.0, heardSeconds - 0.75);
    const double late = Heard::rmsDb(heard, probe.rate(), probe.channels(), heardSeconds - 0.25, heardSeconds);
    QVERIFY2(late < early - 6, qPrintable(QStringLiteral("%1 dB, then %2 dB").arg(early).arg(late)));
    QCOMPARE(pane.playback()->fade(), 1.0);
    QCOMPARE(pane.playback()->volume(), volume);
    QCOMPARE(pane.statusText(), QStringLiteral("睡眠定时已暂停播放"));
    QCOMPARE(button->text(), QStringLiteral("睡眠定时"));
    // It plays on from where it paused.
    const qint64 pausedAt = pane.playback()->position();
    QVERIFY(pausedAt > 2000);
    pane.play();
    QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > pausedAt + 500, 10000);
    QVERIFY(pane.playback()->position() < pausedAt + 5000);
    QVERIFY(pane.statusText() != QStringLiteral("睡眠定时已暂停播放"));
}

void TestMediaPane::idleInhibition_data()
{
    // While a clip plays the desktop is asked not to suspend for idleness,
    // once; when it stops playing, it is let go. Steps after the long clip
    // has begun to play; then what the desktop was asked.
    QTest::addColumn<bool>("portal"); // the portal answers; otherwise logind
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("asked");
    const QString inhibit = QStringLiteral("inhibit 4 正在播放音频");
    QTest::newRow("asked once while it plays") << true << "seek, speed, mute" << inhibit;
    QTest::newRow("let go on pause") << true << "pause" << inhibit + "; close";
    QTest::newRow("asked again on play") << true << "pause, play" << inhibit + "; close; " + inhibit;
    QTest::newRow("let go on stop") << true << "stop" << inhibit + "; close";
    QTest::newRow("let go at the clip's end") << true << "end" << inhibit + "; close";
    // The broken clip is asked for again; its error may come before the answer.
    QTest::newRow("let go on an error") << true << "broken clip" << inhibit + "; close; " + inhibit + "; close | " + inhibit + "; close";
    QTest::newRow("let go on quit") << true << "quit" << inhibit + "; close";
    QTest::newRow("no portal: logind, let go on pause") << false << "pause" << "logind idle:sleep 正在播放音频 block; closed";
    QTest::newRow("no portal: logind, let go on quit") << false << "quit" << "logind idle:sleep 正在播放音频 block; closed";
}

void TestMediaPane::idleInhibition()
{
    QFETCH(bool, portal);
    QFETCH(QString, steps);
    QFETCH(QString, asked);
    if (!QDBusConnection(QStringLiteral("client")).isConnected() || m_systemBus.state() != QProcess::Running)
        QSKIP("no buses could be started (dbus-daemon)");
    // The peers answer from a thread of their own, as another program would.
    QThread peers;
    auto *peer = new Inhibitors(portal, &peers);
    connect(&peers, &QThread::finished, peer, &QObject::deleteLater);
    peers.start();
    const auto stop = qScopeGuard([&] { peers.quit(); peers.wait(); });
    const Inhibitors &desktop = *peer;
    auto pane = std::make_unique<MediaPane>();
    pane->setProperty("URL", QVariant(address("/voice/long")));
    QTRY_VERIFY_WITH_TIMEOUT(desktop.held() == 1 && pane->findChild<IdleInhibitor *>()->isHeld() && pane->canSeek(), 10000);
    for (const QString &step : steps.split(QStringLiteral(", "))) {
        if (step == QLatin1String("pause"))
            pane->pause();
        else if (step == QLatin1String("play"))
            pane->play();
        else if (step == QLatin1String("stop"))
            pane->stop();
        else if (step == QLatin1String("seek"))
            pane->seekTo(30000);
        else if (step == QLatin1String("speed"))
            pane->setSpeed(2);
        else if (step == QLatin1String("mute"))
            pane->playback()->setMuted(true);
        else if (step == QLatin1String("end"))
            pane->seekTo(pane->playback()->duration());
        else if (step == QLatin1String("broken clip"))
            pane->setProperty("URL", QVariant(address("/voice/scrap")));
        else if (step == QLatin1String("quit"))
            pane.reset();
        // Each step's outcome before the next.
        if (step == QLatin1String("play"))
            QTRY_COMPARE_WITH_TIMEOUT(desktop.held(), 1, 10000);
        else if (step == QLatin1String("pause") || step == QLatin1String("stop"))
            QTRY_COMPARE_WITH_TIMEOUT(desktop.held(), 0, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(asked.split(QStringLiteral(" | ")).contains(desktop.log()), 10000);
    // Still held if the last thing asked was to hold it; never twice at once.
    QCOMPARE(desktop.held(), asked.section(QStringLiteral("; "), -1).contains(QStringLiteral("正在播放音频")) ? 1 : 0);
    QCOMPARE(desktop.mostHeld(), 1);
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
    QTest::newRow("back 15 s") << "back button" << "position" << "5";
    QTest::newRow("back 15 s at 5 s goes to the start") << "seek 5, back button" << "position" << "0";
    QTest::newRow("on 30 s") << "forward button" << "position" << "50";
    QTest::newRow("on 30 s near the end goes to the end") << "seek 80, forward button" << "position" << "end";
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
    QTest::newRow("early pause on the next clip") << "slow clip early pause" << "state" << "Paused";
}

void TestMediaPane::controls()
{
    QFETCH(QString, gesture);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    SinkRecorder probe;
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
    pane.playback()->setAudioSink(SinkRecorder::sink());
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
        } else if (step.endsWith(QLatin1String("ward button")) || step == QLatin1String("back button")) {
            pane.findChild<QAbstractButton *>(step == QLatin1String("back button") ? QStringLiteral("backButton")
                                                                                 : QStringLiteral("forwardButton"))->click();
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

    // How loud the clip plays now: 0.4 s of it, once it has played a while.
    const auto heard = [&](double seconds) {
        if (pane.playback()->state() != Playback::State::Playing)
            pane.play();
        const qint64 from = pane.playback()->position();
        if (!QTest::qWaitFor([&] { return pane.playback()->position() > from + 300; }, 10000))
            return std::vector<float>();
        probe.clear();
        if (!QTest::qWaitFor([&] { return probe.frames() >= std::size_t(probe.rate() * seconds); }, 10000))
            return std::vector<float>();
        return probe.samples();
    };
    const auto peak = [&] { return Heard::peak(heard(0.4), probe.channels()); };
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
        const float loudest = peak();
        QVERIFY2(expected == QLatin1String("true") ? loudest == 0 : loudest > 0.8f * kTonePeak, qPrintable(QString::number(loudest)));
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
        // Seconds of clip per second of sound: a player may say one speed
        // and play another.
        QTRY_COMPARE(pane.playback()->state(), Playback::State::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() > 0, 10000);
        probe.clear();
        const qint64 from = pane.playback()->position();
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate()) * 5 / 2, 10000);
        const double seconds = double(probe.frames()) / probe.rate();
        const double pace = double(pane.playback()->position() - from) / 1000 / seconds;
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
    SinkRecorder probe;
    Playback playback;
    playback.setAudioSink(SinkRecorder::sink());
    playback.setSource(QUrl(address("/voice/long")));
    QVERIFY(probe.attach(&playback));
    playback.setRate(rate);
    playback.play();
    QTRY_VERIFY_WITH_TIMEOUT(playback.position() > 1000, 10000);

    // Two seconds of sound: the tone's own pitch, and as much of the clip
    // as the speed says.
    probe.clear();
    const qint64 from = playback.position();
    QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate() * 2), 10000);
    const qint64 to = playback.position();
    const std::vector<float> heard = probe.samples();
    const double hz = Heard::frequency(heard, probe.rate(), probe.channels());
    const double pace = double(to - from) / 1000 / (double(heard.size()) / probe.channels() / probe.rate());
    QVERIFY2(qAbs(hz - kToneHz) <= 0.05 * kToneHz, qPrintable(QStringLiteral("%1 Hz at %2x").arg(hz).arg(rate)));
    QVERIFY2(qAbs(pace - rate) <= 0.15 * rate, qPrintable(QStringLiteral("%1 s of clip a second at %2x").arg(pace).arg(rate)));
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
    QTest::newRow("with 跳过静音 on, Position and Length are the clip's") << "no clip, skip silence, clip with pauses"
                                                                      << "clip time" << "4.6";
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
        } else if (step == QLatin1String("skip silence")) {
            pane->findChild<QAbstractButton *>(QStringLiteral("skipSilenceButton"))->click();
        } else if (step == QLatin1String("clip with pauses")) {
            pane->setProperty("URL", QVariant(address("/voice/pauses")));
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
    } else if (what == QLatin1String("clip time")) {
        // Past two shortened pauses: as far into the clip as the pane says,
        // which is further than what was played; the clip's whole length.
        QTRY_VERIFY_WITH_TIMEOUT(pane->playback()->position() > 3000, 10000);
        const qint64 position = property(QStringLiteral("Position")).toLongLong();
        QVERIFY2(qAbs(position - pane->playback()->position() * 1000) < 300000,
                 qPrintable(QStringLiteral("%1 us, the pane at %2 ms").arg(position).arg(pane->playback()->position())));
        QVERIFY2(qAbs(metadata().value(QStringLiteral("mpris:length")).toLongLong() - qRound64(expected.toDouble() * 1e6)) < 100000,
                 qPrintable(metadata().value(QStringLiteral("mpris:length")).toString()));
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
