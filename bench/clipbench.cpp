// What a change of clip costs: for each run, a clip plays at 2x from 0:20,
// and the next one is set. Measured: the time from setting the address to
// the first sample reaching the sink (which keeps time, as a sound card
// does), and the longest time the GUI thread went without running a 2 ms
// timer meanwhile.
//   clipbench [RUNS]    (default 50)
#include "playback.h"
#include "percentile.h"
#include "sinkrecorder.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<qint64> firstSample{-1}; // ns on `benchClock`, from the streaming thread
QElapsedTimer benchClock;

void handoff(GstElement *, GstBuffer *, GstPad *, gpointer)
{
    qint64 none = -1;
    firstSample.compare_exchange_strong(none, benchClock.nsecsElapsed());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 50;
    QFile file(QStringLiteral(BRIMWOLD_TEST_CLIP));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    TestServer server{TestServer::Scheme::Http};
    if (!server.startInThread())
        return 1;
    server.setResponse(QStringLiteral("/long"), TestServer::ok(file.readAll().repeated(30), "audio/mpeg"));
    const QUrl url(server.baseUrl() + QStringLiteral("/long"));
    benchClock.start();

    Playback playback;
    playback.setAudioSink(QStringLiteral("fakesink name=probe sync=true signal-handoffs=true"));
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestStall = qMax(longestStall, sinceTick.restart()); });

    QTextStream out(stdout);
    QVector<double> toFirst;
    QVector<double> stalls;
    QVector<double> calls;
    int silent = 0;
    for (int i = 0; i <= runs; ++i) {
        firstSample = -1;
        sinceTick.start();
        longestStall = 0;
        ticker.start();
        const qint64 start = benchClock.nsecsElapsed();
        playback.setSource(url);
        playback.play();
        const qint64 called = benchClock.nsecsElapsed();
        if (i == 0) // connects the probe; not counted
            connectProbe(&playback, &handoff, nullptr);
        const bool heard = QTest::qWaitFor([] { return firstSample >= 0; }, 10000);
        QTest::qWait(100);
        ticker.stop();
        if (i == 0)
            continue;
        if (!heard) {
            ++silent;
            continue;
        }
        toFirst.append((firstSample - start) / 1e6);
        stalls.append(double(qMax(longestStall, sinceTick.elapsed())));
        calls.append((called - start) / 1e6);
        // The next change comes while this clip plays, sped up, after a seek.
        playback.setRate(2.0);
        playback.setPosition(20000);
        QTest::qWait(300);
        playback.setRate(1.0);
    }

    out << "runs: " << toFirst.size() << (silent ? QStringLiteral(" (%1 never heard)").arg(silent) : QString()) << "\n"
        << "address to first sample at the sink: median " << QString::number(percentile(toFirst, 0.5), 'f', 1)
        << " ms, 90th percentile " << QString::number(percentile(toFirst, 0.9), 'f', 1) << " ms, worst "
        << QString::number(percentile(toFirst, 1), 'f', 1) << " ms\n"
        << "time spent in setSource() and play(): median " << QString::number(percentile(calls, 0.5), 'f', 2)
        << " ms, worst " << QString::number(percentile(calls, 1), 'f', 2) << " ms\n"
        << "longest GUI-thread stall during a change of clip: median "
        << QString::number(percentile(stalls, 0.5), 'f', 0) << " ms, worst "
        << QString::number(percentile(stalls, 1), 'f', 0) << " ms\n";
    return silent ? 2 : 0;
}
