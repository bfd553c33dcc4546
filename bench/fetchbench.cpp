// What hostile answers to a page fetch cost the window, with the program's
// own limits: for each answer, the time until the window shows what became
// of the fetch, the peak resident memory meanwhile, and the longest time
// the event loop went without running a 2 ms timer. The hostile server runs
// in a second process (this program started with --serve), so that only
// the window's own memory is counted.
//   fetchbench [CASE...]    (default: every case; the slow ones take 30 s and 120 s)
#include "mainwindow.h"
#include "mediapane.h"
#include "playersession.h"
#include "samplepages.h"
#include "testserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

namespace {

struct Case
{
    const char *name;
    const char *what;
};

const Case kCases[] = {
    {"bomb1", "1.1 MB gzip body inflating to 1.1 GB"},
    {"bomb8", "8 MB gzip body inflating to 8 GB"},
    {"endless", "endless body (no length)"},
    {"huge", "200 MB ordinary page"},
    {"hung", "six answers that never come, then a click"},
    {"drip", "1 byte every 200 ms, forever"},
    {"headers", "100,000 header lines (1.9 MB)"},
    {"page", "an ordinary 3 MB voice page, for comparison"},
    {"gzpage", "the same page gzip-compressed"},
};

int serve()
{
    TestServer::Response hung;
    hung.neverAnswer = true;
    TestServer::Response drip = TestServer::ok("<html>");
    drip.dripMs = 200;
    TestServer::Response endless = TestServer::ok(SamplePages::filler(65536).toUtf8());
    endless.endless = true;
    TestServer::Response headers;
    headers.raw = true;
    headers.body = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 100000; ++i)
        headers.body += "X-Flood-" + QByteArray::number(i).rightJustified(6, '0') + ": 0\r\n";
    headers.body += "Content-Length: 6\r\n\r\n<html>";

    TestServer server(TestServer::Scheme::Https);
    if (!server.start())
        return 1;
    for (const char *name : {"bomb1", "bomb8"}) {
        TestServer::Response bomb = TestServer::ok(SamplePages::gzipBomb(name[4] == '1' ? 1100LL << 20 : 8LL << 30));
        bomb.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        server.setResponse(QStringLiteral("/s/") + QLatin1String(name), bomb);
    }
    server.setResponse(QStringLiteral("/s/endless"), endless);
    server.setPage(QStringLiteral("/s/huge"), SamplePages::linkPage(QStringLiteral("巨"), {}, {200 << 20}));
    server.setResponse(QStringLiteral("/s/hung"), hung);
    server.setResponse(QStringLiteral("/s/drip"), drip);
    server.setResponse(QStringLiteral("/s/headers"), headers);
    server.setPage(QStringLiteral("/s/ok"), SamplePages::voicePage(QStringLiteral("好"), {{"一", "MQ=="}}));
    const QByteArray page = SamplePages::voicePage(QStringLiteral("页"), {{"一", "MQ=="}}, {3 << 20});
    server.setPage(QStringLiteral("/s/page"), page);
    TestServer::Response gzpage = TestServer::ok(SamplePages::gzip(page));
    gzpage.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    server.setResponse(QStringLiteral("/s/gzpage"), gzpage);
    QTextStream(stdout) << server.authority() << Qt::endl;
    return QCoreApplication::exec();
}

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void click(QListWidget *list, int row)
{
    emit list->clicked(list->model()->index(row, 0));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    if (wanted.contains(QStringLiteral("--serve")))
        return serve();

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(app.applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(120000)) {
        QTextStream(stderr) << "fetchbench: the server did not start\n";
        return 1;
    }
    const QString authority = QString::fromLatin1(server.readLine().trimmed());
    TestServer::trustLoopbackCertificate();

    QTextStream out(stdout);
    out << "| answer | what the window shows | after | peak memory | longest stall |\n|---|---|---|---|---|\n";
    out.flush();
    for (const Case &c : kCases) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(c.name)))
            continue;
        const QString name = QLatin1String(c.name);
        const bool hung = name == QLatin1String("hung");
        PlayerSession session;
        MainWindow window(&session, ArticleSources{QStringLiteral("https://%1/s/").arg(authority), QStringLiteral("http://127.0.0.1:9/"),
                                         {name, QStringLiteral("ok"), name}});
        window.show();
        auto *pane = window.findChild<MediaPane *>();
        auto *articles = window.findChild<QListWidget *>(QStringLiteral("listWidget"));
        auto *voices = window.findChild<QListWidget *>(QStringLiteral("listWidget_3"));
        QCoreApplication::processEvents();

        qint64 longest = 0;
        QElapsedTimer sinceTick;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = qMax(longest, sinceTick.restart()); });
        resetPeak();
        const qint64 base = peakKiB();
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        tick.start(2);
        click(articles, 0);
        if (hung) {
            for (int i = 1; i < 6; ++i)
                click(articles, 0);
            QTimer::singleShot(1000, [&] { click(articles, 1); clock.restart(); });
        }
        auto done = [&] {
            return hung || voices->count() > 0 ? voices->count() > 0
                                                : !pane->statusText().startsWith(QStringLiteral("正在打开"));
        };
        while (!done() && clock.elapsed() < 200000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const qint64 elapsed = clock.elapsed();
        tick.stop();
        longest = qMax(longest, sinceTick.elapsed());
        const QString shown = voices->count() > 0 ? QStringLiteral("the click's page (%1 clip)").arg(voices->count())
                                   : pane->statusText() + QStringLiteral(" (") + pane->statusToolTip().section(QLatin1Char('\n'), 0, 0) + QLatin1Char(')');
        out << "| " << c.what << " | " << shown << " | " << QString::number(elapsed / 1000.0, 'f', 1) << " s | "
            << (peakKiB() - base) / 1024 << " MiB above " << base / 1024 << " MiB | " << longest << " ms |\n";
        out.flush();
    }
    server.kill();
    server.waitForFinished();
    return 0;
}
