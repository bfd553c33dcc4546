#ifndef IDLEINHIBITOR_H
#define IDLEINHIBITOR_H

#include <QObject>
#include <QString>

#include <memory>

class QDBusPendingCallWatcher;
class QDBusUnixFileDescriptor;

// Asks the desktop not to suspend for idleness while it is wanted (while a
// clip plays): through the desktop portal's Inhibit on the session bus
// where the portal answers, otherwise through logind's Inhibit on the
// system bus. The screen may still blank and lock. Held once at most, let
// go as soon as it is not wanted, and at the latest when this goes; with no
// bus at all, nothing is done.
class IdleInhibitor : public QObject
{
    Q_OBJECT

public:
    explicit IdleInhibitor(QObject *parent = nullptr);
    ~IdleInhibitor() override;

    void setWanted(bool wanted);
    bool isHeld() const;

private:
    enum class Via { Portal, Logind };

    void ask(Via via);
    void answered(Via via);
    bool take(Via via);
    void release();

    bool m_wanted = false;
    bool m_noPortal = false;
    QDBusPendingCallWatcher *m_asking = nullptr; // the answer to come
    QString m_request; // the portal's handle while held
    std::unique_ptr<QDBusUnixFileDescriptor> m_lock; // logind's, while held
};

#endif // IDLEINHIBITOR_H
