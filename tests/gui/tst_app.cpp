#include "applicationservice.h"
#include "windowfixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QtTest>

// The real executable, started headless. A helper loaded into it reports
// the window once it is shown and closes it, as a window manager's close
// button does.
class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void launch_data();
    void launch();
    void secondLaunchHandsOver_data();
    void secondLaunchHandsOver();
    void cleanupTestCase();

private:
    // Starts `program`, without a session bus unless one is given.
    static void start(QProcess &process, const QString &program, const QStringList &arguments,
                      const QString &busAddress = QString());

    QProcess m_bus;
};

void TestApp::start(QProcess &process, const QString &program, const QStringList &arguments, const QString &busAddress)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CLOSE_WINDOW_LIBRARY));
    // The helper is loaded before the sanitizer runtime in sanitizer builds.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    if (!busAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
}

void TestApp::launch_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("output"); // the start of what it prints on stdout, then stderr
    QTest::newRow("no arguments") << PROGRAM_PATH << QStringList() << 0 << true << "shown: Sorvalen Brimwold";
    QTest::newRow("Qt's own option") << PROGRAM_PATH << QStringList{"-platform", "offscreen"} << 0 << true << "shown";
    QTest::newRow("an address, no session bus") << PROGRAM_PATH << QStringList{"https://127.0.0.1:1/s/x"} << 0 << true
                                                << "shown";
    QTest::newRow("unknown option") << PROGRAM_PATH << QStringList{"--verbose", "file.mp3", "-x"} << 2 << false
                                    << "sorvalen-brimwold: Unknown options: verbose, x.\n";
    QTest::newRow("version") << PROGRAM_PATH << QStringList{"--version"} << 0 << false << "sorvalen-brimwold 1.0.0\n";
    QTest::newRow("help") << PROGRAM_PATH << QStringList{"--help"} << 0 << false << "Usage: ";
    QTest::newRow("offline demo") << DEMO_PATH << QStringList() << 0 << true << "";
}

void TestApp::launch()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, shown);
    QFETCH(QString, output);
    QProcess process;
    start(process, program, arguments);
    QVERIFY2(process.waitForFinished(60000), "the program did not end");
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(out.contains(QLatin1String("shown: Sorvalen Brimwold")), shown);
    if (program == QLatin1String(DEMO_PATH))
        return;
    QVERIFY2((exitCode == 0 ? out : err).startsWith(output), qPrintable(out + err));
}

void TestApp::secondLaunchHandsOver_data()
{
    // A second launch of the program, or a launcher calling the running
    // one on the bus.
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("arguments"); // %1: the page server
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QStringList>("fetched");   // by the running window, in order
    QTest::newRow("addresses go to the running window") << "launch" << QStringList{"https://%1/s/b", "http://%1/s/a"}
                                                        << "exit 0" << QStringList{"/s/b", "/s/a"};
    QTest::newRow("no addresses: a window of its own") << "launch" << QStringList() << "exit 0, a window" << QStringList();
    // As the desktop's "Open with" starts it: a bus, and no window yet.
    QTest::newRow("the first launch with addresses opens them itself") << "first launch" << QStringList{"https://%1/s/b"}
                                                                       << "exit 0, a window, fetched" << QStringList();
    // The running window is minimized before a call.
    QTest::newRow("Open from a launcher") << "call Open" << QStringList{"http://%1/s/c", "ftp://x/s/d"} << "reply, raised"
                                          << QStringList{"/s/c"};
    QTest::newRow("Activate") << "call Activate" << QStringList() << "reply, raised" << QStringList();
    QTest::newRow("no actions to activate") << "call ActivateAction" << QStringList{"quit"}
                                            << "error org.freedesktop.DBus.Error.InvalidArgs" << QStringList();
}

void TestApp::secondLaunchHandsOver()
{
    QFETCH(QString, how);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outcome);
    QFETCH(QStringList, fetched);
    if (m_bus.state() == QProcess::NotRunning) {
        // GLib's settings would connect to the bus too and end the test
        // with SIGTERM when it goes away.
        qputenv("GSETTINGS_BACKEND", "memory");
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address")});
        if (!m_bus.waitForReadyRead(10000))
            QSKIP("no session bus could be started (dbus-daemon)");
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    const QString busAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");

    // The running window: this process's, on that bus.
    WindowFixture f;
    if (how != QLatin1String("first launch")) {
        auto *service = new ApplicationService(f.window.get());
        QVERIFY(service->isRegistered());
        f.window->answer(service);
    }
    TestServer::Response slow = TestServer::ok("<html></html>");
    slow.delayMs = 5000; // so the fetches are still under way when looked at
    f.pages.setFallback(slow);
    for (QString &argument : arguments)
        argument.replace(QLatin1String("%1"), f.pages.authority());

    QString happened;
    if (how.endsWith(QLatin1String("launch"))) {
        QProcess second;
        start(second, QStringLiteral(PROGRAM_PATH), arguments, busAddress);
        // The running window answers on this thread's event loop.
        qRegisterMetaType<QProcess::ExitStatus>();
        QSignalSpy ended(&second, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY2(ended.wait(30000), "the second launch did not end");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        happened = QStringLiteral("exit %1").arg(second.exitCode());
        if (QString::fromUtf8(second.readAllStandardOutput()).contains(QLatin1String("shown:")))
            happened += QStringLiteral(", a window");
        // Its own fetch came to the page server (whose certificate it does
        // not trust); the window here fetches nothing it was not handed.
        if (how == QLatin1String("first launch") && f.pages.connections() > 0)
            happened += QStringLiteral(", fetched");
    } else {
        f.window->showMinimized();
        QTRY_VERIFY(f.window->isMinimized());
        // A connection of its own, as a launcher or script has.
        QDBusConnection launcher = QDBusConnection::connectToBus(busAddress, QStringLiteral("launcher"));
        QDBusMessage call = QDBusMessage::createMethodCall(ApplicationService::busName(), ApplicationService::objectPath(),
                                                           QStringLiteral("org.freedesktop.Application"), how.mid(5));
        if (how.endsWith(QLatin1String("Open")))
            call << arguments;
        else if (how.endsWith(QLatin1String("ActivateAction")))
            call << arguments.value(0) << QVariantList();
        call << QVariantMap();
        QDBusPendingCallWatcher reply(launcher.asyncCall(call));
        QSignalSpy answered(&reply, &QDBusPendingCallWatcher::finished);
        QVERIFY(answered.wait(10000));
        happened = reply.isError() ? QStringLiteral("error ") + reply.error().name() : QStringLiteral("reply");
        QDBusConnection::disconnectFromBus(QStringLiteral("launcher"));
        // A window that comes back comes back at once; one that is not to
        // is given a second to show it does not.
        if (QTest::qWaitFor([&] { return !f.window->isMinimized() && f.window->isVisible(); },
                            outcome.contains(QLatin1String("raised")) ? 10000 : 1000))
            happened += QStringLiteral(", raised");
    }
    QCOMPARE(happened, outcome);
    QCOMPARE(f.fetchesUnderWay(), fetched);
}

void TestApp::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished();
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
