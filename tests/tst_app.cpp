#include <QProcess>
#include <QtTest>

// The real executable, started headless: its window appears and closing it
// ends the program with exit code 0.
class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void closingTheWindowEndsTheProgram_data();
    void closingTheWindowEndsTheProgram();
};

void TestApp::closingTheWindowEndsTheProgram_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << PROGRAM_PATH << QStringList();
    QTest::newRow("unknown arguments") << PROGRAM_PATH << QStringList{"--verbose", "file.mp3", "-x"};
    QTest::newRow("Qt's own option") << PROGRAM_PATH << QStringList{"-platform", "offscreen"};
    QTest::newRow("offline demo") << DEMO_PATH << QStringList();
}

void TestApp::closingTheWindowEndsTheProgram()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CLOSE_WINDOW_LIBRARY));
    // The helper is loaded before the sanitizer runtime in sanitizer builds.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY2(process.waitForFinished(60000), "the program did not end");
    const QByteArray out = process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(out.contains("shown: Sorvalen Brimwold"), out.constData());
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
