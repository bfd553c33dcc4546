#include "mprisservice.h"

#include "playersession.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kBusName = QStringLiteral("org.mpris.MediaPlayer2.sorvalen_brimwold");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr qint64 kMicroPerMilli = 1000;

} // namespace

// org.mpris.MediaPlayer2: the program itself.
class MprisRoot : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)

public:
    explicit MprisRoot(MprisService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
    {
    }

    bool canQuit() const { return false; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Sorvalen Brimwold"); }
    QString desktopEntry() const { return QStringLiteral("org.sorvalen.Brimwold"); }
    // OpenUri takes articles' web addresses; clips come only from their pages.
    QStringList uriSchemes() const { return {QStringLiteral("http"), QStringLiteral("https")}; }
    QStringList mimeTypes() const { return {}; }

public slots:
    // The applet's "raise" means bring it back, from the taskbar too.
    void Raise() { emit m_service->raiseRequested(); }
    void Quit() {}

private:
    MprisService *m_service;
};

// org.mpris.MediaPlayer2.Player: the session's playback.
class MprisPlayer : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ hasClip)
    Q_PROPERTY(bool CanPause READ hasClip)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit MprisPlayer(MprisService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
        , m_session(service->session())
    {
        connect(m_session, &PlayerSession::seeked, this, [this](qint64 ms) { emit Seeked(ms * kMicroPerMilli); });
    }

    QString playbackStatus() const
    {
        switch (m_session->playback()->state()) {
        case Playback::State::Playing: return QStringLiteral("Playing");
        case Playback::State::Paused: return QStringLiteral("Paused");
        default: return QStringLiteral("Stopped");
        }
    }
    double rate() const { return m_session->speed(); }
    void setRate(double rate)
    {
        if (rate > 0) // a rate of 0 means pause, which clients are to ask for by Pause
            m_session->setSpeed(rate);
    }
    QVariantMap metadata() const
    {
        QVariantMap map{{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(m_service->trackId()))}};
        if (!m_session->url().isEmpty()) {
            map.insert(QStringLiteral("xesam:url"), m_session->url());
            map.insert(QStringLiteral("xesam:title"), m_session->title());
        }
        if (!m_session->album().isEmpty())
            map.insert(QStringLiteral("xesam:album"), m_session->album());
        if (m_session->duration() > 0)
            map.insert(QStringLiteral("mpris:length"), qlonglong(m_session->duration() * kMicroPerMilli));
        return map;
    }
    // Muted counts as silent.
    double volume() const
    {
        const Playback *playback = m_session->playback();
        return playback->isMuted() ? 0.0 : playback->volume() / 100.0;
    }
    void setVolume(double volume)
    {
        const int percent = qBound(0, qRound(volume * 100), 100);
        m_session->playback()->setVolume(percent);
        if (percent > 0)
            m_session->playback()->setMuted(false);
    }
    qlonglong position() const { return m_session->position() * kMicroPerMilli; }
    double minimumRate() const { return PlayerSession::minimumSpeed(); }
    double maximumRate() const { return PlayerSession::maximumSpeed(); }
    bool yes() const { return true; }
    bool canGoNext() const { return m_session->canGoNext(); }
    bool canGoPrevious() const { return m_session->canGoPrevious(); }
    bool hasClip() const { return !m_session->url().isEmpty(); }
    bool canSeek() const { return m_session->canSeek(); }

public slots:
    void Next() { m_session->next(); }
    void Previous() { m_session->previous(); }
    void Pause() { m_session->pause(); }
    void PlayPause() { m_session->togglePlay(); }
    void Stop() { m_session->stop(); }
    void Play() { m_session->play(); }
    void Seek(qlonglong offset) { m_session->seekTo(m_session->position() + offset / kMicroPerMilli); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position)
    {
        const qint64 ms = position / kMicroPerMilli;
        if (track.path() == m_service->trackId() && ms >= 0 && ms <= m_session->duration())
            m_session->seekTo(ms);
    }
    // An article, opened as a followed link is (playerctl open URL).
    void OpenUri(const QString &uri) { m_session->askToOpen(uri); }

signals:
    void Seeked(qlonglong position);

private:
    MprisService *m_service;
    PlayerSession *m_session;
};

MprisService::MprisService(PlayerSession *session)
    : QObject(session)
    , m_session(session)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    new MprisPlayer(this);
    new MprisRoot(this);
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return; // another session of this process has it
    for (const QString &name : {kBusName, kBusName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())}) {
        if (bus.registerService(name)) {
            m_service = name;
            break;
        }
    }
    if (m_service.isEmpty()) {
        bus.unregisterObject(kObjectPath);
        return;
    }

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 compares such values by their own ==; Qt 5 must be told to.
    if (!QMetaType::hasRegisteredComparators<QDBusObjectPath>())
        QMetaType::registerEqualsComparator<QDBusObjectPath>();
#endif
    m_published = playerProperties();
    // What changed within one turn of the event loop is announced once, as
    // it stands at its end: a change of clip passes through "stopped", which
    // the desktop's applet is not to show.
    m_publish = new QTimer(this);
    m_publish->setSingleShot(true);
    m_publish->setInterval(0);
    connect(m_publish, &QTimer::timeout, this, &MprisService::publishChanges);
    const auto publish = QOverload<>::of(&QTimer::start);
    const Playback *playback = session->playback();
    connect(playback, &Playback::stateChanged, m_publish, publish);
    connect(playback, &Playback::durationChanged, m_publish, publish);
    connect(playback, &Playback::seekableChanged, m_publish, publish);
    connect(playback, &Playback::statusChanged, m_publish, publish);
    connect(playback, &Playback::volumeChanged, m_publish, publish);
    connect(playback, &Playback::mutedChanged, m_publish, publish);
    connect(session, &PlayerSession::clipChanged, m_publish, publish);
    connect(session, &PlayerSession::clipListChanged, m_publish, publish);
    connect(session, &PlayerSession::speedChanged, m_publish, publish);
}

MprisService::~MprisService()
{
    if (m_service.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(m_service);
    bus.unregisterObject(kObjectPath);
}

QString MprisService::trackId() const
{
    if (m_session->url().isEmpty())
        return QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
    return QStringLiteral("/org/sorvalen/Brimwold/clip/%1").arg(m_session->clipNumber());
}

// Every property of the player that announces its changes (all but the
// position, which moves all the time and is asked for instead).
QVariantMap MprisService::playerProperties() const
{
    const auto *player = findChild<MprisPlayer *>();
    QVariantMap map;
    for (const char *name : {"PlaybackStatus", "Rate", "Metadata", "Volume", "CanPlay", "CanPause", "CanSeek", "CanGoNext",
                             "CanGoPrevious"})
        map.insert(QLatin1String(name), player->property(name));
    return map;
}

void MprisService::publishChanges()
{
    const QVariantMap now = playerProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_published.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_published = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "mprisservice.moc"
