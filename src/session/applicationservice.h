#ifndef APPLICATIONSERVICE_H
#define APPLICATIONSERVICE_H

#include <QObject>
#include <QStringList>

// The program on the session bus as the desktop launches and talks to
// applications: org.freedesktop.Application at /org/sorvalen/Brimwold under
// the name org.sorvalen.Brimwold. The first instance takes the name; a
// later launch with addresses hands them over to it instead of opening a
// window of its own, and any launcher or script can call Open too. What
// the desktop asks for is passed on as signals, for the window.
class ApplicationService : public QObject
{
    Q_OBJECT

public:
    // Takes the name, unless there is no session bus or another instance
    // has it.
    explicit ApplicationService(QObject *parent = nullptr);
    ~ApplicationService() override;

    bool isRegistered() const { return m_registered; }

    // Asks the instance that has the name to open `addresses`. False when
    // there is none, or it did not answer within `timeoutMs`.
    static bool handOver(const QStringList &addresses, int timeoutMs = 10000);

    static QString busName();
    static QString objectPath();

signals:
    // To be brought to the front; Open also hands over addresses.
    void activateRequested();
    void openRequested(const QStringList &addresses);

private:
    bool m_registered = false;
};

#endif // APPLICATIONSERVICE_H
