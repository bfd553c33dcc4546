// Loaded into the real program with LD_PRELOAD by tst_app: once the main
// window is shown, it reports the window's title on stdout and, half a
// second of the program's own event loop later (what it does at start, such
// as opening addresses, has begun by then), closes the window the way a
// window manager's close button does.
#include <QApplication>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {

void closeMainWindowWhenShown()
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, qApp, [poll] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits("QMainWindow")) {
                poll->stop();
                QTextStream(stdout) << "shown: " << w->windowTitle() << Qt::endl;
                QTimer::singleShot(500, w, &QWidget::close);
                return;
            }
        }
    });
    poll->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(closeMainWindowWhenShown)
