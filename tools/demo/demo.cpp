// The program's window against loopback servers instead of the article and
// voice hosts: sample pages over HTTPS, spoken clips over HTTP. Needs no
// network. The servers live in this process and end with it.
#include "applicationservice.h"
#include "mainwindow.h"
#include "mprisservice.h"
#include "playersession.h"
#include "samplepages.h"
#include "testserver.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

namespace {

QByteArray clip(int n)
{
    QFile file(QStringLiteral(":/demo/clips/clip%1.mp3").arg(n));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[])
{
    Playback::tagStreamsAsMusic();
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(demo);
    TestServer::trustLoopbackCertificate();

    TestServer pages(TestServer::Scheme::Https);
    TestServer clips(TestServer::Scheme::Http);
    if (!pages.start() || !clips.startInThread()) {
        QTextStream(stderr) << "demo: cannot listen on 127.0.0.1\n";
        return 1;
    }

    const QStringList ids{"DemoXiuXian0000000001A", "DemoDaLian000000000002", "DemoXinShu000000000003"};
    const QString link = QStringLiteral("http://%1/s/").arg(pages.authority());
    using SamplePages::Clip;
    const QVector<Clip> book1{{"第一章 山门", "MzAwMDAwMDAwMF8xMDAwMDAwMDAx"},
                              {"第二章 拜师", "MzAwMDAwMDAwMF8xMDAwMDAwMDAy"},
                              {"第三章 试剑", "MzAwMDAwMDAwMF8xMDAwMDAwMDAz"}};
    const QVector<Clip> book2{{"第一回 雨夜", "MzAwMDAwMDAwMF8yMDAwMDAwMDAx"},
                              {"第二回 旧友", "MzAwMDAwMDAwMF8yMDAwMDAwMDAy"},
                              {"第三回 远行", "MzAwMDAwMDAwMF8yMDAwMDAwMDAz"}};
    // An article that no list of the window leads to: the user is handed it.
    const QString handed = QStringLiteral("DemoHanded000000000004");
    const QVector<Clip> letter{{"番外 来信", "MzAwMDAwMDAwMF8zMDAwMDAwMDAx"}};
    SamplePages::Options plain;
    plain.size = 200000;
    plain.accountAnchor = false;

    pages.setPage(QStringLiteral("/s/") + ids[0], SamplePages::voicePage(QStringLiteral("修仙"), book1, plain));
    // "新书" is shaped as the host serves articles today.
    QString today;
    for (const Clip &clip : book2)
        today += SamplePages::filler(20000, int(today.size())) + SamplePages::todayClip(clip);
    pages.setPage(QStringLiteral("/s/") + ids[2], SamplePages::todayPage(QStringLiteral("新书"), today));
    pages.setPage(QStringLiteral("/s/DemoMissing0000000004?a=1&b=2"), SamplePages::noticePage(SamplePages::Notice::Deleted));
    pages.setPage(QStringLiteral("/s/") + handed, SamplePages::voicePage(QStringLiteral("番外"), letter, plain));
    clips.setResponse(QStringLiteral("/voice/getvoice?mediaid=") + letter[0].fileId, TestServer::ok(clip(5), "audio/mpeg"));
    pages.setPage(QStringLiteral("/s/") + ids[1],
                  SamplePages::linkPage(QStringLiteral("打脸"),
                                        {{link + ids[0] + QStringLiteral("#wechat_redirect"), QStringLiteral("【连载】修仙 第一卷")},
                                         {link + ids[2], QStringLiteral("【新书】雨夜 试读")},
                                         {link + QStringLiteral("DemoMissing0000000004?a=1&amp;b=2"),
                                          QStringLiteral("【已删除】这篇文章不见了")}},
                                        plain));
    for (int i = 0; i < 3; ++i) {
        clips.setResponse(QStringLiteral("/voice/getvoice?mediaid=") + book1[i].fileId,
                          TestServer::ok(clip(i + 1), "audio/mpeg"));
        // The last chapter runs about a minute (its clip nine times over), long
        // enough to try seeking with the keys and the desktop's media controls.
        clips.setResponse(QStringLiteral("/voice/getvoice?mediaid=") + book2[i].fileId,
                          TestServer::ok(i == 2 ? clip(6).repeated(9) : clip(i + 4), "audio/mpeg"));
    }

    PlayerSession session;
    MainWindow window(&session, ArticleSources{pages.baseUrl() + QStringLiteral("/s/"),
                                     clips.baseUrl() + QStringLiteral("/voice/getvoice?mediaid="),
                                     {ids[0], ids[1], ids[2]}});
    // A second launch of the program with an address opens it here too,
    // and the desktop's media controls drive it.
    window.answer(new ApplicationService(&window));
    window.answer(new MprisService(&session));
    window.show();
    QTextStream(stdout) << "To try opening an article you were sent, copy this address and press Ctrl+V in the "
                           "window (or drop it there, or run: sorvalen-brimwold ADDRESS):\n  "
                        << link << handed << Qt::endl;
    return app.exec();
}
