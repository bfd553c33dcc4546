// Renders the main window as it looks right after start and saves it as a
// PNG, for the README. Run with QT_QPA_PLATFORM=offscreen.
#include "mainwindow.h"
#include "playersession.h"

#include <QApplication>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: grab-window OUTPUT.png\n";
        return 2;
    }

    PlayerSession session;
    MainWindow window(&session);
    window.show();
    int result = 1;
    QTimer::singleShot(300, &window, [&] {
        result = window.grab().save(args.at(1)) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return result;
}
