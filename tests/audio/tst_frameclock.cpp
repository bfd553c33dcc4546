#include "frameclock.h"
#include "sampletime.h"

#include <QtTest>

// Frames of exactly 10 ms of the clip's own time, at the rates voice clips
// come in: a clock that drifted by a sample a frame would put a long
// reading's cuts into its words by its end.
class TestFrameClock : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void follows_data();
    void follows();
};

void TestFrameClock::frames_data()
{
    QTest::addColumn<int>("rate");
    for (const int rate : {8000, 11025, 16000, 22050, 44100, 48000})
        QTest::newRow(qPrintable(QStringLiteral("%1 Hz").arg(rate))) << rate;
}

void TestFrameClock::frames()
{
    QFETCH(int, rate);
    // Three hours of frames: each starts where 10 ms times its number
    // falls, and is as long as 10 ms is, to a sample.
    for (qint64 frame = 0; frame <= 3 * 360000; frame += frame < 1000 ? 1 : 997) {
        const qint64 start = FrameClock::frameStart(frame, rate);
        QCOMPARE(start, frame * rate / 100);
        const qint64 length = FrameClock::frameStart(frame + 1, rate) - start;
        QVERIFY2(length == rate / 100 || length == rate / 100 + 1, qPrintable(QString::number(length)));
        QCOMPARE(FrameClock::frameOf(start, rate), frame);
        if (frame > 0)
            QCOMPARE(FrameClock::frameOf(start - 1, rate), frame - 1);
    }
    QCOMPARE(FrameClock::frameStart(100, rate), qint64(rate)); // a second is a hundred frames
}

void TestFrameClock::follows_data()
{
    // Audio that comes next, as a decoder times it: within a millisecond or
    // two samples it follows on; further off, the clock starts again.
    QTest::addColumn<int>("rate");
    QTest::addColumn<qint64>("offNs");
    QTest::addColumn<bool>("follows");
    QTest::newRow("on the sample") << 22050 << qint64(0) << true;
    QTest::newRow("rounded to the nanosecond") << 22050 << qint64(1) << true;
    QTest::newRow("a millisecond late") << 44100 << qint64(1000000) << true;
    QTest::newRow("two samples early at 8 kHz") << 8000 << qint64(-250000) << true;
    QTest::newRow("a frame the decoder dropped") << 22050 << qint64(26122449) << false;
    QTest::newRow("back by a frame") << 11025 << qint64(-52244898) << false;
}

void TestFrameClock::follows()
{
    QFETCH(int, rate);
    QFETCH(qint64, offNs);
    QFETCH(bool, follows);
    FrameClock clock;
    clock.restart(rate, 0, 0);
    for (int i = 0; i < 12345; ++i)
        clock.countSample();
    QCOMPARE(clock.nextNs(), SampleTime::toNs(12345, rate));
    QCOMPARE(clock.follows(clock.nextNs() + offNs, rate), follows);
}

QTEST_GUILESS_MAIN(TestFrameClock)
#include "tst_frameclock.moc"
