// How often a clip chosen straight after a seek in the previous one never
// starts: the previous clip is paused before it loads, moved to 0:20 and
// set to 2x, and the next clip is set at once. A clip counts as started
// when its position moves in the first 5 s.
//   clipbench [RUNS]    (default 200, about 3 s each)
#include "media/playback.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QTest>

int main(int argc, char **argv)
{
    qputenv("QT_GSTREAMER_PLAYBIN_AUDIOSINK", "fakesink sync=true");
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    QFile file(QStringLiteral(BRIMWOLD_TEST_CLIP));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    TestServer server{TestServer::Scheme::Http};
    if (!server.startInThread())
        return 1;
    server.setResponse(QStringLiteral("/long"), TestServer::ok(file.readAll().repeated(30), "audio/mpeg"));
    const QUrl url(server.baseUrl() + QStringLiteral("/long"));

    QTextStream out(stdout);
    int stuck = 0;
    int unready = 0; // first clip never loaded: the try does not count
    qint64 switching = 0;
    for (int i = 0; i < runs; ++i) {
        Playback playback;
        playback.setSource(url);
        playback.play();
        playback.pause();
        if (!QTest::qWaitFor([&] { return playback.duration() > 0 && playback.isSeekable(); }, 10000)
            || !QTest::qWaitFor([&] { return playback.state() == Playback::State::Paused; }, 10000)) {
            ++unready;
            continue;
        }
        playback.setPosition(20000);
        playback.setRate(2.0);
        QElapsedTimer clock;
        clock.start();
        playback.setSource(url);
        playback.play();
        switching += clock.nsecsElapsed();
        if (!QTest::qWaitFor([&] { return playback.position() > 0; }, 5000))
            ++stuck;
    }
    out << "clips that never started: " << stuck << " of " << runs - unready << "\n"
        << "mean time to switch clips: " << QString::number(switching / 1e6 / qMax(1, runs - unready), 'f', 2) << " ms\n";
    if (unready > 0)
        out << "tries left out, first clip never loaded: " << unready << "\n";
    return 0;
}
