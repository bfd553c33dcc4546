#ifndef PRIVATEBUS_H
#define PRIVATEBUS_H

#include <QProcess>
#include <QString>

// A D-Bus daemon of the test's own, made this process's session bus (or its
// system bus) before anything asks for one. GLib's settings would connect
// to it too and raise SIGTERM when it goes away, so they are kept in memory.
class PrivateBus
{
public:
    enum class Kind { Session, System };

    explicit PrivateBus(Kind kind = Kind::Session);
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // False if dbus-daemon could not be started.
    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

#endif // PRIVATEBUS_H
