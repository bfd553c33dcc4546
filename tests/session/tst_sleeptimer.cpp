#include "sleeptimer.h"

#include "sinkrecorder.h"
#include "testclips.h"
#include "testserver.h"

#include <QtTest>

// The sleep timer over a clip that plays into a sink that keeps time. A
// minute lasts 200 ms here and the fade 1 s, so that 15 minutes run out
// after 3 s of sound.
class TestSleepTimer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sleepTimer_data();
    void sleepTimer();

private:
    TestServer m_server{TestServer::Scheme::Http};
};

void TestSleepTimer::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
}

void TestSleepTimer::sleepTimer_data()
{
    // Steps, in turn, once the long clip plays; then the state and the
    // seconds of sound heard until the timer paused the clip (-1: it did
    // not). Each slip the rows look for is off by 1.5 s or more.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("seconds");
    QTest::newRow("the clip pauses where it is, fading out") << "15" << "Paused" << 3.0;
    QTest::newRow("a pause holds the count") << "15, wait, pause, play" << "Paused" << 3.0;
    QTest::newRow("at 2x the count is real time") << "speed 2, 15" << "Paused" << 3.0;
    QTest::newRow("a second pick replaces the first") << "15, 30" << "Paused" << 6.0;
    QTest::newRow("cancelled") << "15, cancel" << "Playing" << -1.0;
    QTest::newRow("the volume changed in the fade: awake") << "15, volume in the fade" << "Playing" << -1.0;
}

void TestSleepTimer::sleepTimer()
{
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(double, seconds);
    SinkRecorder probe;
    Playback playback;
    SleepTimer timer(&playback);
    timer.setScale(200, 1000);
    playback.setAudioSink(SinkRecorder::sink());
    playback.setSource(QUrl(m_server.baseUrl() + QStringLiteral("/voice/long")));
    playback.play();
    QVERIFY(probe.attach(&playback));
    QTRY_VERIFY_WITH_TIMEOUT(playback.position() > 500, 10000);
    probe.clear();
    for (const QString &step : steps.split(QStringLiteral(", "))) {
        if (step == QLatin1String("wait")) {
            // Time counts before the pause: what is left after it is less
            // than the whole.
            QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate()), 10000);
        } else if (step == QLatin1String("pause")) {
            playback.pause();
            const qint64 left = timer.remainingMs();
            QVERIFY2(left > 0 && left < 2500, qPrintable(QString::number(left)));
            QTest::qWait(2500); // time passes while paused
            QCOMPARE(timer.remainingMs(), left);
        } else if (step == QLatin1String("play")) {
            playback.play();
        } else if (step == QLatin1String("speed 2")) {
            playback.setRate(2);
        } else if (step == QLatin1String("cancel")) {
            timer.cancel();
        } else if (step == QLatin1String("volume in the fade")) {
            QTRY_VERIFY_WITH_TIMEOUT(playback.fade() < 0.9, 10000);
            playback.setVolume(60);
        } else {
            timer.start(step.toInt());
            QVERIFY(timer.isRunning());
        }
    }
    const int volume = playback.volume();
    if (seconds < 0) {
        // Plays on past where it would have ended, with no timer.
        QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate()) * 4, 10000);
        QVERIFY(!timer.isRunning());
        QVERIFY(playback.fade() == 1.0);
        QCOMPARE(QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(playback.state()))), state);
        return;
    }
    QSignalSpy expired(&timer, &SleepTimer::expired);
    QSignalSpy changed(&timer, &SleepTimer::changed);
    QTRY_COMPARE_WITH_TIMEOUT(playback.state(), Playback::State::Paused, 15000);
    QCOMPARE(expired.count(), 1);
    // The button counted down on the way: a second less, then the end.
    QVERIFY2(changed.count() >= 2, qPrintable(QString::number(changed.count())));
    const std::vector<float> heard = probe.samples();
    const double heardSeconds = double(heard.size()) / probe.channels() / probe.rate();
    QVERIFY2(qAbs(heardSeconds - seconds) < 1.0, qPrintable(QStringLiteral("paused after %1 s of sound").arg(heardSeconds)));
    // Faded over its last second, then given its volume back.
    const double early = Heard::rmsDb(heard, probe.rate(), probe.channels(), heardSeconds - 1.0, heardSeconds - 0.75);
    const double late = Heard::rmsDb(heard, probe.rate(), probe.channels(), heardSeconds - 0.25, heardSeconds);
    QVERIFY2(late < early - 6, qPrintable(QStringLiteral("%1 dB, then %2 dB").arg(early).arg(late)));
    QCOMPARE(playback.fade(), 1.0);
    QCOMPARE(playback.volume(), volume);
    QVERIFY(!timer.isRunning());
    // It plays on from where it paused.
    const qint64 pausedAt = playback.position();
    QVERIFY(pausedAt > 2000);
    playback.play();
    QTRY_VERIFY_WITH_TIMEOUT(playback.position() > pausedAt + 500, 10000);
    QVERIFY(playback.position() < pausedAt + 5000);
}

QTEST_MAIN(TestSleepTimer)
#include "tst_sleeptimer.moc"
