#ifndef MPRISSERVICE_H
#define MPRISSERVICE_H

#include <QObject>
#include <QString>
#include <QVariantMap>

class PlayerSession;
class QTimer;

// Puts the player session on the session bus as an MPRIS 2 media player,
// so that the media keys, the desktop's player applet and playerctl can
// see and drive it. Without a session bus it does nothing.
class MprisService : public QObject
{
    Q_OBJECT

public:
    explicit MprisService(PlayerSession *session);
    ~MprisService() override;

    // The bus name taken, or empty when not on the bus.
    QString serviceName() const { return m_service; }

    PlayerSession *session() const { return m_session; }
    QString trackId() const;
    QVariantMap playerProperties() const;

signals:
    // The desktop asks to see the program's window.
    void raiseRequested();

private:
    void publishChanges();

    PlayerSession *m_session;
    QString m_service;
    QVariantMap m_published;
    QTimer *m_publish = nullptr; // one announcement a turn of the event loop
};

#endif // MPRISSERVICE_H
