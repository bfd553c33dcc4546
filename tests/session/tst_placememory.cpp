#include "placememory.h"

#include <QtTest>

// Where the listener left each clip: which places are kept, where a clip
// starts again, and how many are kept.
class TestPlaceMemory : public QObject
{
    Q_OBJECT

private slots:
    void places_data();
    void places();
    void keepsTheLatestThousand();
};

void TestPlaceMemory::places_data()
{
    // A clip of 10 minutes left at a time; where it starts again.
    QTest::addColumn<qint64>("leftMs");
    QTest::addColumn<qint64>("durationMs");
    QTest::addColumn<qint64>("startMs");
    QTest::newRow("left at 30 s: from 25 s") << qint64(30000) << qint64(600000) << qint64(25000);
    QTest::newRow("left at 3:21: from 3:16") << qint64(201000) << qint64(600000) << qint64(196000);
    QTest::newRow("left at 5 s: from the start") << qint64(5000) << qint64(600000) << qint64(0);
    QTest::newRow("left just before 10 s: from the start") << qint64(9999) << qint64(600000) << qint64(0);
    QTest::newRow("left at 10 s: from 5 s") << qint64(10000) << qint64(600000) << qint64(5000);
    QTest::newRow("left 10 s before the end: from 5 s earlier") << qint64(590000) << qint64(600000) << qint64(585000);
    QTest::newRow("left in the last 10 s: from the start") << qint64(590001) << qint64(600000) << qint64(0);
    QTest::newRow("its length not known: from the start") << qint64(30000) << qint64(0) << qint64(0);
}

void TestPlaceMemory::places()
{
    QFETCH(qint64, leftMs);
    QFETCH(qint64, durationMs);
    QFETCH(qint64, startMs);
    PlaceMemory memory;
    const QString clip = QStringLiteral("https://res.wx.qq.com/voice/getvoice?mediaid=A");
    memory.leave(clip, 120000, 600000); // an earlier place, replaced
    memory.leave(clip, leftMs, durationMs);
    QCOMPARE(memory.startOf(clip), startMs);
    QCOMPARE(memory.place(clip), startMs > 0 ? leftMs : -1);
    QCOMPARE(memory.startOf(QStringLiteral("https://res.wx.qq.com/voice/getvoice?mediaid=B")), 0);
    memory.forget(clip);
    QCOMPARE(memory.place(clip), -1);
}

void TestPlaceMemory::keepsTheLatestThousand()
{
    PlaceMemory memory;
    const auto clip = [](int n) { return QStringLiteral("https://res.wx.qq.com/voice/getvoice?mediaid=%1").arg(n); };
    for (int n = 0; n < PlaceMemory::kMostClips; ++n)
        memory.leave(clip(n), 60000 + n, 600000);
    memory.leave(clip(0), 70000, 600000); // heard again: the newest now
    memory.leave(clip(PlaceMemory::kMostClips), 80000, 600000);
    QCOMPARE(memory.size(), PlaceMemory::kMostClips);
    QCOMPARE(memory.place(clip(1)), -1); // the oldest, forgotten
    QCOMPARE(memory.place(clip(0)), 70000);
    QCOMPARE(memory.place(clip(2)), 60002);
    QCOMPARE(memory.place(clip(PlaceMemory::kMostClips)), 80000);
}

QTEST_GUILESS_MAIN(TestPlaceMemory)
#include "tst_placememory.moc"
