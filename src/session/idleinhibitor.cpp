#include "idleinhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <utility>

namespace {

const QString kReason = QStringLiteral("正在播放音频");
constexpr uint kSuspend = 4; // the portal's flag for suspending

} // namespace

IdleInhibitor::IdleInhibitor(QObject *parent)
    : QObject(parent)
{
}

// At quit the portal is told at once, also of an inhibition it has not
// answered yet; logind sees its descriptor close.
IdleInhibitor::~IdleInhibitor()
{
    m_wanted = false;
    if (m_asking) {
        const Via via = m_asking->property("via").toBool() ? Via::Portal : Via::Logind;
        m_asking->disconnect(this); // the answer is taken here, not when it comes
        m_asking->waitForFinished();
        take(via);
    }
    if (!m_request.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), m_request, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Close"));
        QDBusConnection::sessionBus().call(close, QDBus::Block, 1000);
    }
}

bool IdleInhibitor::isHeld() const
{
    return !m_request.isEmpty() || m_lock;
}

void IdleInhibitor::setWanted(bool wanted)
{
    m_wanted = wanted;
    if (wanted && !isHeld() && !m_asking)
        ask(m_noPortal ? Via::Logind : Via::Portal);
    else if (!wanted)
        release(); // one still being asked for is let go when it comes
}

void IdleInhibitor::ask(Via via)
{
    QDBusConnection bus = via == Via::Portal ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (via == Via::Portal)
            ask(Via::Logind);
        return;
    }
    QDBusMessage call;
    if (via == Via::Portal) {
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                              QStringLiteral("/org/freedesktop/portal/desktop"),
                                              QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        call << QString() << kSuspend << QVariantMap{{QStringLiteral("reason"), kReason}};
    } else {
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                              QStringLiteral("/org/freedesktop/login1"),
                                              QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("idle:sleep") << QStringLiteral("Sorvalen Brimwold") << kReason << QStringLiteral("block");
    }
    call.setAutoStartService(via == Via::Logind);
    m_asking = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    m_asking->setProperty("via", via == Via::Portal);
    connect(m_asking, &QDBusPendingCallWatcher::finished, this, [this, via] { answered(via); });
}

void IdleInhibitor::answered(Via via)
{
    if (!take(via)) {
        if (via == Via::Portal) { // no portal here: logind, from now on
            m_noPortal = true;
            if (m_wanted)
                ask(Via::Logind);
        }
        return;
    }
    if (!m_wanted)
        release();
}

// What the answer holds, if it is one.
bool IdleInhibitor::take(Via via)
{
    QDBusPendingCallWatcher *call = std::exchange(m_asking, nullptr);
    call->deleteLater();
    if (call->isError())
        return false;
    if (via == Via::Portal)
        m_request = QDBusPendingReply<QDBusObjectPath>(*call).value().path();
    else
        m_lock = std::make_unique<QDBusUnixFileDescriptor>(QDBusPendingReply<QDBusUnixFileDescriptor>(*call).value());
    return true;
}

void IdleInhibitor::release()
{
    if (!m_request.isEmpty()) {
        const QDBusMessage close = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), m_request, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Close"));
        QDBusConnection::sessionBus().send(close);
        m_request.clear();
    }
    m_lock.reset(); // closing the descriptor lets logind go
}
