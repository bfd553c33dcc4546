#include "media/playback.h"

#include <QMediaPlayer>
#include <QTimer>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QAudioOutput>
#endif

namespace {

Playback::Status statusOf(QMediaPlayer::MediaStatus status)
{
    switch (status) {
    case QMediaPlayer::NoMedia: return Playback::Status::NoMedia;
    case QMediaPlayer::LoadingMedia: return Playback::Status::Loading;
    case QMediaPlayer::LoadedMedia: return Playback::Status::Loaded;
    case QMediaPlayer::StalledMedia: return Playback::Status::Stalled;
    case QMediaPlayer::BufferingMedia: return Playback::Status::Buffering;
    case QMediaPlayer::BufferedMedia: return Playback::Status::Buffered;
    case QMediaPlayer::EndOfMedia: return Playback::Status::EndOfMedia;
    case QMediaPlayer::InvalidMedia: return Playback::Status::Invalid;
    default: return Playback::Status::Unknown;
    }
}

Playback::Error errorOf(QMediaPlayer::Error error)
{
    switch (error) {
    case QMediaPlayer::NoError: return Playback::Error::None;
    case QMediaPlayer::ResourceError: return Playback::Error::Resource;
    case QMediaPlayer::FormatError: return Playback::Error::Format;
    case QMediaPlayer::NetworkError: return Playback::Error::Network;
    case QMediaPlayer::AccessDeniedError: return Playback::Error::AccessDenied;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    case QMediaPlayer::ServiceMissingError: return Playback::Error::ServiceMissing;
#endif
    default: return Playback::Error::Other;
    }
}

// The enumeration is QMediaPlayer::State in Qt 5 and PlaybackState in
// Qt 6, with the same values.
template <typename PlayerState>
Playback::State stateOf(PlayerState state)
{
    switch (state) {
    case QMediaPlayer::PlayingState: return Playback::State::Playing;
    case QMediaPlayer::PausedState: return Playback::State::Paused;
    default: return Playback::State::Stopped;
    }
}

} // namespace

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

// Qt 6: setSource, playbackState, errorOccurred, and a QAudioOutput for
// volume (linear, 0 to 1) and mute.

void Playback::connectPlayer()
{
    if (!m_output) { // one for every player
        m_output = new QAudioOutput(this);
        connect(m_output, &QAudioOutput::volumeChanged, this, [this] { emit volumeChanged(volume()); });
        connect(m_output, &QAudioOutput::mutedChanged, this, [this](bool muted) { playerMutedChanged(muted); });
    }
    m_player->setAudioOutput(m_output);
    connect(m_player, &QMediaPlayer::sourceChanged, this, &Playback::sourceChanged);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] { playerStateChanged(); });
    connect(m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString &text) { emit errorOccurred(errorOf(error), text); });
}

Playback::State Playback::playerState() const
{
    return stateOf(m_player->playbackState());
}

void Playback::setPlayerSource(const QUrl &url)
{
    m_player->setSource(url);
}

QUrl Playback::source() const { return m_player->source(); }
bool Playback::playerMuted() const { return m_output->isMuted(); }
void Playback::setPlayerMuted(bool muted) { m_output->setMuted(muted); }
int Playback::volume() const { return qRound(m_output->volume() * 100); }
void Playback::setVolume(int percent) { m_output->setVolume(float(qBound(0, percent, 100)) / 100); }

#else

// Qt 5: setMedia, state, the overloaded error signal, volume and mute on the
// player itself.

void Playback::connectPlayer()
{
    connect(m_player, &QMediaPlayer::volumeChanged, this, &Playback::volumeChanged);
    connect(m_player, &QMediaPlayer::mutedChanged, this, [this](bool muted) { playerMutedChanged(muted); });
    connect(m_player, &QMediaPlayer::mediaChanged, this, [this] { emit sourceChanged(source()); });
    connect(m_player, &QMediaPlayer::stateChanged, this, [this] { playerStateChanged(); });
    connect(m_player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this,
            [this](QMediaPlayer::Error error) { emit errorOccurred(errorOf(error), m_player->errorString()); });
}

Playback::State Playback::playerState() const
{
    return stateOf(m_player->state());
}

void Playback::setPlayerSource(const QUrl &url)
{
    m_player->setMedia(url);
}

QUrl Playback::source() const { return m_player->media().request().url(); }
bool Playback::playerMuted() const { return m_player->isMuted(); }
void Playback::setPlayerMuted(bool muted) { m_player->setMuted(muted); }
int Playback::volume() const { return m_player->volume(); }
void Playback::setVolume(int percent) { m_player->setVolume(qBound(0, percent, 100)); }

#endif

// The same in both.

Playback::Playback(QObject *parent)
    : QObject(parent)
    , m_player(new QMediaPlayer(this))
    , m_pauseDeadline(new QTimer(this))
{
    m_pauseDeadline->setSingleShot(true);
    m_pauseDeadline->setInterval(3000);
    connect(m_pauseDeadline, &QTimer::timeout, this, &Playback::finishPause);
    attachPlayer();
}

void Playback::attachPlayer()
{
    connectPlayer();
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) { emit statusChanged(statusOf(status)); });
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
        if (!m_pauseWhenKnown)
            emit positionChanged(ms);
    });
    connect(m_player, &QMediaPlayer::durationChanged, this, &Playback::durationChanged);
    connect(m_player, &QMediaPlayer::seekableChanged, this, &Playback::seekableChanged);

    auto clipKnown = [this] {
        if (m_clipKnown || m_player->duration() <= 0 || !m_player->isSeekable())
            return;
        m_clipKnown = true;
        if (m_pauseWhenKnown)
            finishPause();
        if (m_rate != 1.0) { // the player ignores a rate it believes it has
            m_player->setPlaybackRate(1.0);
            m_player->setPlaybackRate(m_rate);
        }
    };
    connect(m_player, &QMediaPlayer::durationChanged, this, clipKnown);
    connect(m_player, &QMediaPlayer::seekableChanged, this, clipKnown);
}

void Playback::setSource(const QUrl &url)
{
    endSilentPlay();
    m_clipKnown = false;
    if (m_player->mediaStatus() != QMediaPlayer::NoMedia)
        renewPlayer();
    setPlayerSource(url);
}

// Each clip gets a player of its own. Qt 5's, reused straight after a seek,
// now and then never starts the next clip; Qt 6.4's, after a failed clip,
// reports the old clip's errors against the next one.
void Playback::renewPlayer()
{
    QMediaPlayer *const previous = m_player;
    const bool hadLength = previous->duration() > 0;
    const bool couldSeek = previous->isSeekable();
    const int volume = this->volume();
    const bool muted = playerMuted();
    previous->disconnect(this);
    previous->stop();
    previous->deleteLater();
    m_player = new QMediaPlayer(this);
    // Qt 5 keeps volume and mute on each player; set before connecting, so
    // that nothing is reported as changed.
    setVolume(volume);
    setPlayerMuted(muted);
    m_player->setPlaybackRate(m_rate);
    attachPlayer();
    // What the old player would have said when its clip was dropped.
    if (hadLength)
        emit durationChanged(0);
    if (couldSeek)
        emit seekableChanged(false);
    emit positionChanged(0);
    playerStateChanged();
}

bool Playback::isAvailable() const
{
    return m_player->isAvailable();
}

void Playback::playerStateChanged()
{
    if (playerState() != State::Playing)
        endSilentPlay();
    if (state() != m_shownState)
        emit stateChanged(m_shownState = state());
}

void Playback::playerMutedChanged(bool muted)
{
    if (!m_silent)
        emit mutedChanged(muted);
}

void Playback::play()
{
    if (m_pauseWhenKnown) { // still playing, silently
        endSilentPlay();
        emit stateChanged(m_shownState = State::Playing);
        return;
    }
    m_player->play();
}

void Playback::pause()
{
    if (m_player->duration() > 0 || playerState() != State::Playing) {
        m_player->pause();
        return;
    }
    m_pauseWhenKnown = true;
    m_pausedAt = m_player->position();
    setSilent(true);
    emit stateChanged(m_shownState = State::Paused);
    m_pauseDeadline->start();
}

void Playback::finishPause()
{
    m_player->setPosition(m_pausedAt);
    m_player->pause(); // ends the silent play
}

void Playback::endSilentPlay()
{
    m_pauseDeadline->stop();
    m_pauseWhenKnown = false;
    setSilent(false);
}

void Playback::setSilent(bool silent)
{
    if (silent == m_silent)
        return;
    if (silent)
        m_mutedBeforeSilence = playerMuted();
    m_silent = silent;
    setPlayerMuted(silent || m_mutedBeforeSilence);
}

void Playback::stop()
{
    m_player->stop();
}

Playback::State Playback::state() const
{
    return m_pauseWhenKnown ? State::Paused : playerState();
}

Playback::Status Playback::status() const
{
    return statusOf(m_player->mediaStatus());
}

qint64 Playback::position() const
{
    return m_pauseWhenKnown ? m_pausedAt : m_player->position();
}

void Playback::setPosition(qint64 ms)
{
    if (m_pauseWhenKnown)
        m_pausedAt = ms;
    else
        m_player->setPosition(ms);
}

qint64 Playback::duration() const
{
    return m_player->duration();
}

bool Playback::isSeekable() const
{
    return m_player->isSeekable();
}

bool Playback::isMuted() const
{
    return m_silent ? m_mutedBeforeSilence : playerMuted();
}

void Playback::setMuted(bool muted)
{
    if (!m_silent) {
        setPlayerMuted(muted);
    } else if (muted != m_mutedBeforeSilence) {
        m_mutedBeforeSilence = muted;
        emit mutedChanged(muted);
    }
}

double Playback::rate() const
{
    return m_rate;
}

void Playback::setRate(double rate)
{
    m_rate = rate;
    m_player->setPlaybackRate(rate);
}
