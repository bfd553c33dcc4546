#ifndef APPLICATIONSERVICE_H
#define APPLICATIONSERVICE_H

#include <QObject>
#include <QStringList>

class MainWindow;

// The program on the session bus as the desktop launches and talks to
// applications: org.freedesktop.Application at /org/sorvalen/Brimwold under
// the name org.sorvalen.Brimwold. The first window takes the name; a later
// launch with addresses hands them over to it instead of opening a window
// of its own, and any launcher or script can call Open too.
class ApplicationService : public QObject
{
    Q_OBJECT

public:
    // Takes the name for `window`, unless there is no session bus or another
    // instance has it.
    explicit ApplicationService(MainWindow *window);
    ~ApplicationService() override;

    bool isRegistered() const { return m_registered; }
    MainWindow *window() const { return m_window; }

    // Asks the instance that has the name to open `addresses`. False when
    // there is none, or it did not answer within `timeoutMs`.
    static bool handOver(const QStringList &addresses, int timeoutMs = 10000);

    static QString busName();
    static QString objectPath();

private:
    MainWindow *m_window;
    bool m_registered = false;
};

#endif // APPLICATIONSERVICE_H
