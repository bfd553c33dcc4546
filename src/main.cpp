#include "applicationservice.h"
#include "commandline.h"
#include "mainwindow.h"
#include "mprisservice.h"
#include "playersession.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    Playback::tagStreamsAsMusic();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sorvalen-brimwold"));
    QApplication::setApplicationVersion(QStringLiteral(BRIMWOLD_VERSION));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.sorvalen.Brimwold"));

    const CommandLine line = CommandLine::parse(QApplication::arguments());
    if (line.exitCode >= 0) {
        std::fputs(line.output.toUtf8().constData(), line.exitCode == 0 ? stdout : stderr);
        return line.exitCode;
    }
    // Addresses go to the window that runs already, if there is one.
    if (!line.addresses.isEmpty() && ApplicationService::handOver(line.addresses))
        return 0;

    PlayerSession session;
    MainWindow window(&session);
    window.answer(new MprisService(&session));
    window.answer(new ApplicationService(&window));
    window.show();
    window.openAddresses(line.addresses);
    return app.exec();
}
