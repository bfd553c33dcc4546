#include "privatebus.h"

PrivateBus::PrivateBus(Kind kind)
{
    qputenv("GSETTINGS_BACKEND", "memory");
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForReadyRead(10000))
        return;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    qputenv(kind == Kind::Session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
}

PrivateBus::~PrivateBus()
{
    m_daemon.kill();
    m_daemon.waitForFinished();
}
