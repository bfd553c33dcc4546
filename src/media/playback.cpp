#include "media/playback.h"

#include <QMediaPlayer>
#include <QTimer>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QAudioOutput>
#include <QtMath>
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

} // namespace

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

Playback::Playback(QObject *parent)
    : QObject(parent)
    , m_player(new QMediaPlayer(this))
    , m_output(new QAudioOutput(this))
{
    m_player->setAudioOutput(m_output);
    connect(m_player, &QMediaPlayer::sourceChanged, this, &Playback::sourceChanged);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] { emit stateChanged(state()); });
    connect(m_player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString &text) { emit errorOccurred(errorOf(error), text); });
    connect(m_output, &QAudioOutput::volumeChanged, this, [this] { emit volumeChanged(volume()); });
    connect(m_output, &QAudioOutput::mutedChanged, this, &Playback::mutedChanged);
    connectCommon();
}

bool Playback::isAvailable() const { return m_player->isAvailable(); }
void Playback::setSource(const QUrl &url) { m_player->setSource(url); }
QUrl Playback::source() const { return m_player->source(); }
void Playback::pause() { m_player->pause(); }
qint64 Playback::position() const { return m_player->position(); }

Playback::State Playback::state() const
{
    switch (m_player->playbackState()) {
    case QMediaPlayer::PlayingState: return State::Playing;
    case QMediaPlayer::PausedState: return State::Paused;
    default: return State::Stopped;
    }
}

int Playback::volume() const { return qRound(m_output->volume() * 100); }
void Playback::setVolume(int percent) { m_output->setVolume(qBound(0, percent, 100) / 100.0f); }
bool Playback::isMuted() const { return m_output->isMuted(); }
void Playback::setMuted(bool muted) { m_output->setMuted(muted); }
bool Playback::isSeekable() const { return m_player->isSeekable(); }
double Playback::rate() const { return m_player->playbackRate(); }
void Playback::setRate(double rate) { m_player->setPlaybackRate(rate); }

#else

Playback::Playback(QObject *parent)
    : QObject(parent)
    , m_player(new QMediaPlayer(this))
{
    connect(m_player, &QMediaPlayer::mediaChanged, this, [this] { emit sourceChanged(source()); });
    connect(m_player, &QMediaPlayer::stateChanged, this, [this](QMediaPlayer::State state) {
        if (state != QMediaPlayer::PlayingState) {
            m_pauseWhenKnown = false;
            setSilent(false);
        }
        if (this->state() != m_shownState)
            emit stateChanged(m_shownState = this->state());
    });
    connect(m_player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this,
            [this](QMediaPlayer::Error error) { emit errorOccurred(errorOf(error), m_player->errorString()); });
    connect(m_player, &QMediaPlayer::volumeChanged, this, &Playback::volumeChanged);
    connect(m_player, &QMediaPlayer::mutedChanged, this, [this](bool muted) {
        if (!m_silent)
            emit mutedChanged(muted);
    });
    auto pauseIfKnown = [this] {
        if (m_pauseWhenKnown && m_player->duration() > 0 && m_player->isSeekable())
            finishPause();
    };
    connect(m_player, &QMediaPlayer::durationChanged, this, pauseIfKnown);
    connect(m_player, &QMediaPlayer::seekableChanged, this, pauseIfKnown);
    connect(m_player, &QMediaPlayer::seekableChanged, this, [this](bool seekable) {
        if (seekable && m_rate != 1.0) {
            m_player->setPlaybackRate(m_rate);
            m_player->setPosition(m_player->position()); // a seek takes the rate with it
        }
    });
    connectCommon();
}

bool Playback::isAvailable() const { return m_player->isAvailable(); }
QUrl Playback::source() const { return m_player->media().request().url(); }

void Playback::setSource(const QUrl &url)
{
    m_pauseWhenKnown = false;
    setSilent(false);
    m_player->setMedia(url);
}

void Playback::pause()
{
    if (m_player->duration() > 0 || m_player->state() != QMediaPlayer::PlayingState) {
        m_player->pause();
        return;
    }
    m_pauseWhenKnown = true;
    m_pausedAt = m_player->position();
    setSilent(true);
    emit stateChanged(m_shownState = State::Paused);
    QTimer::singleShot(3000, this, [this] {
        if (m_pauseWhenKnown)
            finishPause();
    });
}

void Playback::finishPause()
{
    m_player->setPosition(m_pausedAt);
    m_player->pause(); // ends the silence
}

void Playback::setSilent(bool silent)
{
    if (silent == m_silent)
        return;
    if (silent)
        m_mutedBeforeSilence = m_player->isMuted();
    m_silent = silent;
    m_player->setMuted(silent || m_mutedBeforeSilence);
}

Playback::State Playback::state() const
{
    if (m_pauseWhenKnown)
        return State::Paused;
    switch (m_player->state()) {
    case QMediaPlayer::PlayingState: return State::Playing;
    case QMediaPlayer::PausedState: return State::Paused;
    default: return State::Stopped;
    }
}

qint64 Playback::position() const { return m_pauseWhenKnown ? m_pausedAt : m_player->position(); }
int Playback::volume() const { return m_player->volume(); }
void Playback::setVolume(int percent) { m_player->setVolume(qBound(0, percent, 100)); }
bool Playback::isMuted() const { return m_silent ? m_mutedBeforeSilence : m_player->isMuted(); }

void Playback::setMuted(bool muted)
{
    if (!m_silent) {
        m_player->setMuted(muted);
    } else if (muted != m_mutedBeforeSilence) {
        m_mutedBeforeSilence = muted;
        emit mutedChanged(muted);
    }
}

bool Playback::isSeekable() const { return m_player->isSeekable(); }
double Playback::rate() const { return m_rate; }

void Playback::setRate(double rate)
{
    m_rate = rate;
    m_player->setPlaybackRate(rate);
}

#endif

// The same in both.

void Playback::connectCommon()
{
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) { emit statusChanged(statusOf(status)); });
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
        if (!m_pauseWhenKnown)
            emit positionChanged(ms);
    });
    connect(m_player, &QMediaPlayer::durationChanged, this, &Playback::durationChanged);
    connect(m_player, &QMediaPlayer::seekableChanged, this, &Playback::seekableChanged);
    connect(m_player, &QMediaPlayer::playbackRateChanged, this, &Playback::rateChanged);
}

void Playback::play()
{
    if (m_pauseWhenKnown) { // still playing, silently
        m_pauseWhenKnown = false;
        setSilent(false);
        emit stateChanged(m_shownState = State::Playing);
        return;
    }
    m_player->play();
}

void Playback::stop() { m_player->stop(); }
Playback::Status Playback::status() const { return statusOf(m_player->mediaStatus()); }

void Playback::setPosition(qint64 ms)
{
    if (m_pauseWhenKnown)
        m_pausedAt = ms;
    else
        m_player->setPosition(ms);
}
qint64 Playback::duration() const { return m_player->duration(); }

