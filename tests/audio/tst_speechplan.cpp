#include "speechplan.h"

#include <QtTest>

#include <cmath>

using namespace SpeechPlan;

// The decisions behind smart speed, without a pipeline: levels in, cuts and
// gains out.
class TestSpeechPlan : public QObject
{
    Q_OBJECT

private slots:
    void pauseKept_data();
    void pauseKept();
    void pauses_data();
    void pauses();
    void cutMap_data();
    void cutMap();
    void boost_data();
    void boost();
};

void TestSpeechPlan::pauseKept_data()
{
    QTest::addColumn<qint64>("pauseMs");
    QTest::addColumn<qint64>("keptMs");
    QTest::newRow("a short pause stays") << qint64(100) << qint64(100);
    QTest::newRow("just under 300 ms stays") << qint64(290) << qint64(290);
    QTest::newRow("300 ms: 150 and a fifth of the rest") << qint64(300) << qint64(180);
    QTest::newRow("800 ms") << qint64(800) << qint64(280);
    QTest::newRow("2 s") << qint64(2000) << qint64(520);
    QTest::newRow("a long one keeps 600 ms at most") << qint64(10000) << qint64(600);
}

void TestSpeechPlan::pauseKept()
{
    QFETCH(qint64, pauseMs);
    QFETCH(qint64, keptMs);
    const Kept kept = SpeechPlan::kept(pauseMs * 1000);
    QCOMPARE((kept.afterUs + kept.beforeUs) / 1000, keptMs);
    if (pauseMs >= 300) {
        QVERIFY2(kept.afterUs >= 60000 && kept.beforeUs >= 80000, qPrintable(QStringLiteral("%1 + %2").arg(kept.afterUs).arg(kept.beforeUs)));
        QVERIFY(kept.beforeUs > kept.afterUs); // the next word's start matters more
    }
}

void TestSpeechPlan::pauses_data()
{
    // Frames of 10 ms, as "level x count" pieces; the cuts as "start-end" in
    // ms, or how many; the most levels the planner may still keep.
    QTest::addColumn<QString>("frames");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("cuts");
    QTest::addColumn<int>("mostKept");
    const QString words = QStringLiteral("-12x40 -60x100 -12x40 -60x30 -12x40 -60x29 -12x40 -60x200 -12x40");
    QTest::newRow("1 s, 300 ms and 290 ms pauses, then 2 s")
        << words << true << "528-1208 1872-1992 3398-4878" << 0;
    QTest::newRow("nothing before 3 s have been heard") << "-12x40 -60x100 -12x40" << false << "" << 180;
    QTest::newRow("all of it once the clip ends") << "-12x40 -60x100 -12x40" << true << "528-1208" << 0;
    QTest::newRow("a pause at the end of the clip") << "-12x40 -60x500" << true << "640-5040" << 0;
    QTest::newRow("under hiss") << "-12x40 -45x100 -12x40 -45x100 -12x40 -45x100 -12x40" << false
                                << "528-1208 1928-2608 3328-4008" << 0;
    QTest::newRow("a soft start of a word belongs to it") << "-12x40 -70x100 -55x4 -12x40 -70x200 -12x40" << true
                                                          << "528-1208 2048-3528" << 0;
    QTest::newRow("a steady tone") << "-30x600" << true << "" << 0;
    QTest::newRow("a soft steady sound, quieter than any voice") << "-50x600" << true << "" << 0;
    QTest::newRow("a music bed under the voice") << "-12x40 -32x100 -12x40 -32x100 -12x40 -32x100" << true << "" << 0;
    // A long reading is planned keeping only the pause under way.
    QTest::newRow("an hour of words and pauses") << QStringLiteral("-12x40 -60x100 ").repeated(2500) + "-12x40" << false
                                                 << "2500 cuts" << 140;
}

void TestSpeechPlan::pauses()
{
    QFETCH(QString, frames);
    QFETCH(bool, finished);
    QFETCH(QString, cuts);
    QFETCH(int, mostKept);
    PausePlanner planner;
    for (const QString &piece : frames.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        for (int i = 0; i < piece.section(QLatin1Char('x'), 1).toInt(); ++i)
            planner.addFrame(piece.section(QLatin1Char('x'), 0, 0).toDouble());
    }
    if (finished)
        planner.finish();
    QStringList planned;
    for (const Cut &cut : planner.cuts())
        planned.append(QStringLiteral("%1-%2").arg(cut.startUs / 1000).arg(cut.endUs / 1000));
    QCOMPARE(cuts.endsWith(QLatin1String(" cuts")) ? QStringLiteral("%1 cuts").arg(planned.size()) : planned.join(QLatin1Char(' ')),
             cuts);
    QVERIFY2(int(planner.framesKept()) <= mostKept, qPrintable(QString::number(planner.framesKept())));
}

void TestSpeechPlan::cutMap_data()
{
    // Cuts as "played-ms:length-ms@rate"; then what a played time maps to,
    // and the listening time saved once playback has played that far.
    QTest::addColumn<QString>("cutsMade");
    QTest::addColumn<qint64>("playedMs");
    QTest::addColumn<qint64>("clipMs");
    QTest::addColumn<qint64>("savedMs");
    QTest::newRow("nothing cut") << "" << qint64(1500) << qint64(1500) << qint64(0);
    QTest::newRow("before the cut") << "1000:700@1" << qint64(999) << qint64(999) << qint64(0);
    QTest::newRow("at and after the cut") << "1000:700@1" << qint64(1000) << qint64(1700) << qint64(700);
    QTest::newRow("two cuts") << "1000:700@1 2000:300@1" << qint64(2500) << qint64(3500) << qint64(1000);
    QTest::newRow("not yet at the second") << "1000:700@1 2000:300@1" << qint64(1800) << qint64(2500) << qint64(700);
    QTest::newRow("saved at 2x is half") << "1000:700@2" << qint64(1200) << qint64(1900) << qint64(350);
}

void TestSpeechPlan::cutMap()
{
    QFETCH(QString, cutsMade);
    QFETCH(qint64, playedMs);
    QFETCH(qint64, clipMs);
    QFETCH(qint64, savedMs);
    CutMap map;
    map.restart();
    for (const QString &cut : cutsMade.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        map.add(cut.section(QLatin1Char(':'), 0, 0).toLongLong() * 1000,
                cut.section(QLatin1Char(':'), 1).section(QLatin1Char('@'), 0, 0).toLongLong() * 1000,
                cut.section(QLatin1Char('@'), 1).toDouble());
    QCOMPARE(map.clipUs(playedMs * 1000) / 1000, clipMs);
    QCOMPARE(map.takeSavedUs(playedMs * 1000) / 1000, savedMs);
    QCOMPARE(map.takeSavedUs(playedMs * 1000), 0); // counted once
    map.restart();
    QCOMPARE(map.clipUs(playedMs * 1000) / 1000, playedMs);
}

void TestSpeechPlan::boost_data()
{
    QTest::addColumn<double>("lufs");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("gainDb");
    QTest::newRow("a quiet mono voice to -19") << -30.0 << 1 << 11.0;
    QTest::newRow("a quiet stereo voice to -16") << -25.0 << 2 << 9.0;
    QTest::newRow("at the target") << -19.0 << 1 << 0.0;
    QTest::newRow("a loud voice down as far as needed") << -3.0 << 1 << -16.0;
    QTest::newRow("12 dB at most") << -45.0 << 1 << 12.0;
    QTest::newRow("silence") << -HUGE_VAL << 1 << 0.0;
}

void TestSpeechPlan::boost()
{
    QFETCH(double, lufs);
    QFETCH(int, channels);
    QFETCH(double, gainDb);
    QCOMPARE(boostGainDb(lufs, channels), gainDb);
    // What the limiter leaves of a full-scale peak, so boosted, is the ceiling.
    const double ceiling = toLinear(kCeilingDb);
    QVERIFY(qAbs(limiterGain(1.0, gainDb) * toLinear(gainDb) - std::min(ceiling, toLinear(gainDb))) < 1e-9);
}

QTEST_GUILESS_MAIN(TestSpeechPlan)
#include "tst_speechplan.moc"
