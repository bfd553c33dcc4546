#include "applicationservice.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Application");

} // namespace

// The desktop's own interface for activating an application and handing
// it addresses (freedesktop D-Bus activation), so launchers can use it too.
class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(ApplicationService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
    {
    }

public slots:
    void Activate(const QVariantMap &) { emit m_service->activateRequested(); }

    void Open(const QStringList &uris, const QVariantMap &)
    {
        emit m_service->activateRequested();
        emit m_service->openRequested(uris);
    }

    // The program has no actions.
    void ActivateAction(const QString &name, const QVariantList &, const QVariantMap &, const QDBusMessage &message)
    {
        message.setDelayedReply(true);
        QDBusConnection::sessionBus().send(
            message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no action named \"%1\"").arg(name)));
    }

private:
    ApplicationService *m_service;
};

ApplicationService::ApplicationService(QObject *parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    new ApplicationAdaptor(this);
    if (!bus.registerObject(objectPath(), this, QDBusConnection::ExportAdaptors))
        return;
    // Without queueing: a second window does without the name.
    m_registered = bus.interface()->registerService(busName(), QDBusConnectionInterface::DontQueueService,
                                                    QDBusConnectionInterface::DontAllowReplacement)
                   == QDBusConnectionInterface::ServiceRegistered;
    if (!m_registered)
        bus.unregisterObject(objectPath());
}

ApplicationService::~ApplicationService()
{
    if (!m_registered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(busName());
    bus.unregisterObject(objectPath());
}

QString ApplicationService::busName()
{
    return QStringLiteral("org.sorvalen.Brimwold");
}

QString ApplicationService::objectPath()
{
    return QStringLiteral("/org/sorvalen/Brimwold");
}

bool ApplicationService::handOver(const QStringList &addresses, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(busName(), objectPath(), kInterface, QStringLiteral("Open"));
    call << addresses << QVariantMap();
    call.setAutoStartService(false); // only a window that runs already
    return bus.call(call, QDBus::Block, timeoutMs).type() == QDBusMessage::ReplyMessage;
}

#include "applicationservice.moc"
