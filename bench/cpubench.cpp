// What a minute of playback costs the processor, with the window shown:
// the program's own process against gst-play-1.0 playing the same clip to
// the same sound server, one after the other. Run by scripts/bench.sh
// --cpu, which gives it a display and a sound server with a sink that
// plays nothing.
#include "mainwindow.h"
#include "mediapane.h"
#include "playersession.h"
#include "testserver.h"

#include <QApplication>
#include <QDir>
#include <QMap>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kSettleMs = 5000;   // the start of playback, left out
constexpr int kMeasureMs = 60000; // what is measured

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// utime and stime of a process, or of one of its threads, from /proc.
double cpuSecondsOf(qint64 pid, qint64 thread = 0)
{
    QFile stat(thread > 0 ? QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(thread) : QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Of this process's threads, by name: what the window's thread spends,
// and what GStreamer's streaming threads do.
QMap<QString, double> threadSeconds()
{
    QMap<QString, double> seconds;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (!name.open(QIODevice::ReadOnly))
            continue;
        const QString thread = task == QString::number(getpid()) ? QStringLiteral("the window's thread")
                                                                : QString::fromUtf8(name.readAll().trimmed());
        seconds[thread] += cpuSecondsOf(getpid(), task.toLongLong());
    }
    return seconds;
}

// Lets the event loop run as the program's does, waking only for what
// comes: QTest::qWait would wake it every 10 ms, which costs as much as
// what is measured.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    Playback::tagStreamsAsMusic();
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QFile piece(QStringLiteral(BRIMWOLD_DEMO_CLIPS "/clip6.mp3"));
    if (!piece.open(QIODevice::ReadOnly)) {
        out << "cpubench: no demo clip\n";
        return 1;
    }
    const QByteArray clip = piece.readAll().repeated(12); // about 80 s of speech
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("clip.mp3")));
    if (!file.open(QIODevice::WriteOnly) || file.write(clip) != clip.size())
        return 1;
    file.close();
    TestServer server(TestServer::Scheme::Http);
    if (!server.startInThread())
        return 1;
    server.setResponse(QStringLiteral("/clip"), TestServer::ok(clip, "audio/mpeg"));

    out << "| player | CPU per minute of playback |\n|---|---|\n";
    {
        PlayerSession session;
        MainWindow window(&session);
        window.show();
        window.findChild<MediaPane *>()->setProperty("URL", server.baseUrl() + QStringLiteral("/clip"));
        runFor(kSettleMs);
        const double before = ownCpuSeconds();
        const QMap<QString, double> threadsBefore = threadSeconds();
        runFor(kMeasureMs);
        const double used = ownCpuSeconds() - before;
        QMap<QString, double> threads = threadSeconds();
        if (session.playback()->state() != Playback::State::Playing) {
            out << "cpubench: the clip did not play through the minute: " << session.statusText() << "\n";
            return 1;
        }
        out << QStringLiteral("| this program, window shown | %1 s |\n").arg(used, 0, 'f', 2);
        for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
            const double thread = it.value() - threadsBefore.value(it.key());
            if (thread >= 0.01)
                out << QStringLiteral("| … of which %1 | %2 s |\n").arg(it.key()).arg(thread, 0, 'f', 2);
        }
        out.flush();
    }
    QProcess other;
    other.start(QStringLiteral("gst-play-1.0"), {QStringLiteral("--no-interactive"), QStringLiteral("-q"), file.fileName()});
    if (!other.waitForStarted(10000)) {
        out << "cpubench: gst-play-1.0 did not start (Debian's gstreamer1.0-plugins-base-apps has it)\n";
        return 1;
    }
    runFor(kSettleMs);
    const double before = cpuSecondsOf(other.processId());
    runFor(kMeasureMs);
    const double used = cpuSecondsOf(other.processId()) - before;
    const bool playing = other.state() == QProcess::Running;
    other.kill();
    other.waitForFinished();
    if (!playing || before < 0) {
        out << "cpubench: gst-play-1.0 did not play through the minute\n";
        return 1;
    }
    out << QStringLiteral("| gst-play-1.0 | %1 s |\n").arg(used, 0, 'f', 2);
    return 0;
}
