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
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("unknown arguments") << QStringList{"--verbose", "file.mp3", "-x"};
    QTest::newRow("Qt's own option") << QStringList{"-platform", "offscreen"};
}

void TestApp::closingTheWindowEndsTheProgram()
{
    QFETCH(QStringList, arguments);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CLOSE_WINDOW_LIBRARY));
    // The helper is loaded before the sanitizer runtime in sanitizer builds.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PROGRAM_PATH), arguments);
    QVERIFY2(program.waitForFinished(60000), "the program did not end");
    const QByteArray out = program.readAllStandardOutput();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(out.contains("shown: Sorvalen Brimwold"), out.constData());
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
