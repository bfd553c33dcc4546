#include "idleinhibitor.h"
#include "playersession.h"

#include "privatebus.h"
#include "testclips.h"
#include "testserver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

#include <memory>

namespace {

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
    // Answered at once, or after answerAfterMs, as a busy portal might.
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options, const QDBusMessage &message)
    {
        const QString reason = options.value(QStringLiteral("reason")).toString();
        if (answerAfterMs <= 0)
            return grant(flags, reason);
        message.setDelayedReply(true);
        QTimer::singleShot(answerAfterMs, this, [this, message, flags, reason] {
            const QDBusObjectPath path = grant(flags, reason);
            QDBusConnection(QStringLiteral("portal")).send(message.createReply(QVariant::fromValue(path)));
        });
        return QDBusObjectPath();
    }

public:
    int answerAfterMs = 0; // set before the peers' thread starts

private:
    QDBusObjectPath grant(uint flags, const QString &reason)
    {
        QMutexLocker lock(&peerMutex);
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/t/%1").arg(++m_requests);
        QDBusConnection(QStringLiteral("portal"))
            .registerObject(path, new InhibitRequest(&m_log, &m_held, this), QDBusConnection::ExportAllSlots);
        m_log.append(QStringLiteral("inhibit %1 %2").arg(flags).arg(reason));
        m_most = qMax(m_most, ++m_held + m_logind.held);
        return QDBusObjectPath(path);
    }

    QStringList m_log;
    int m_held = 0;
    int m_most = 0;
    int m_requests = 0;
    Logind m_logind;
};

} // namespace

// While a clip plays the desktop is asked not to suspend for idleness.
class TestIdleInhibitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void idleInhibition_data();
    void idleInhibition();
    void answeredAfterThePause();

private:
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    PrivateBus m_bus{PrivateBus::Kind::Session};
    PrivateBus m_systemBus{PrivateBus::Kind::System};
    TestServer m_server{TestServer::Scheme::Http};
};

void TestIdleInhibitor::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
}

void TestIdleInhibitor::idleInhibition_data()
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

void TestIdleInhibitor::idleInhibition()
{
    QFETCH(bool, portal);
    QFETCH(QString, steps);
    QFETCH(QString, asked);
    if (!m_bus.isRunning() || !m_systemBus.isRunning())
        QSKIP("no buses could be started (dbus-daemon)");
    // The peers answer from a thread of their own, as another program would.
    QThread peers;
    auto *peer = new Inhibitors(portal, &peers);
    connect(&peers, &QThread::finished, peer, &QObject::deleteLater);
    peers.start();
    const auto stop = qScopeGuard([&] { peers.quit(); peers.wait(); });
    const Inhibitors &desktop = *peer;
    auto session = std::make_unique<PlayerSession>();
    session->playback()->setRetries({{20, 40, 80, 160}, 5});
    session->open(address("/voice/long"));
    QTRY_VERIFY_WITH_TIMEOUT(desktop.held() == 1 && session->idleInhibitor()->isHeld() && session->canSeek(), 10000);
    for (const QString &step : steps.split(QStringLiteral(", "))) {
        if (step == QLatin1String("pause"))
            session->pause();
        else if (step == QLatin1String("play"))
            session->play();
        else if (step == QLatin1String("stop"))
            session->stop();
        else if (step == QLatin1String("seek"))
            session->seekTo(30000);
        else if (step == QLatin1String("speed"))
            session->setSpeed(2);
        else if (step == QLatin1String("mute"))
            session->playback()->setMuted(true);
        else if (step == QLatin1String("end"))
            session->seekTo(session->duration());
        else if (step == QLatin1String("broken clip"))
            session->open(address("/voice/scrap"));
        else if (step == QLatin1String("quit"))
            session.reset();
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

// The portal answers after play has stopped: what it grants is let go as
// soon as it comes, or the laptop would never suspend again.
void TestIdleInhibitor::answeredAfterThePause()
{
    if (!m_bus.isRunning() || !m_systemBus.isRunning())
        QSKIP("no buses could be started (dbus-daemon)");
    QThread peers;
    auto *peer = new Inhibitors(true, &peers);
    peer->answerAfterMs = 1500;
    connect(&peers, &QThread::finished, peer, &QObject::deleteLater);
    peers.start();
    const auto stop = qScopeGuard([&] { peers.quit(); peers.wait(); });
    const Inhibitors &desktop = *peer;
    PlayerSession session;
    session.open(address("/voice/long"));
    QTRY_COMPARE_WITH_TIMEOUT(session.playback()->state(), Playback::State::Playing, 10000);
    session.pause();
    QVERIFY(desktop.log().isEmpty()); // not answered yet
    QTRY_COMPARE_WITH_TIMEOUT(desktop.log(), QStringLiteral("inhibit 4 正在播放音频; close"), 10000);
    QCOMPARE(desktop.held(), 0);
    QVERIFY(!session.idleInhibitor()->isHeld());
}

QTEST_MAIN(TestIdleInhibitor)
#include "tst_idleinhibitor.moc"
