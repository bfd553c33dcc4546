#include "sleeptimer.h"

#include <QTimer>

namespace {

constexpr int kTickMs = 50; // smooth enough for a fade, cheap while it lasts

} // namespace

SleepTimer::SleepTimer(Playback *playback)
    : QObject(playback)
    , m_playback(playback)
    , m_tick(new QTimer(this))
{
    m_tick->setInterval(kTickMs);
    connect(m_tick, &QTimer::timeout, this, &SleepTimer::update);
    connect(playback, &Playback::stateChanged, this, &SleepTimer::follow);
    // Only the listener changes these while the timer fades.
    const auto awake = [this] {
        if (m_fading)
            cancel();
    };
    connect(playback, &Playback::volumeChanged, this, awake);
    connect(playback, &Playback::mutedChanged, this, awake);
}

void SleepTimer::setScale(qint64 minuteMs, qint64 fadeMs)
{
    m_minuteMs = minuteMs;
    m_fadeMs = fadeMs;
}

void SleepTimer::start(int minutes)
{
    endFade();
    m_toClipEnd = false;
    m_leftMs = minutes * m_minuteMs;
    m_shownSeconds = -1;
    m_tick->stop();
    follow(m_playback->state());
    emit changed();
}

void SleepTimer::startToClipEnd()
{
    endFade();
    m_leftMs = -1;
    m_tick->stop();
    m_toClipEnd = true;
    emit changed();
}

void SleepTimer::clipEnded()
{
    if (!m_toClipEnd)
        return;
    m_toClipEnd = false;
    emit changed();
}

void SleepTimer::cancel()
{
    if (!isRunning())
        return;
    endFade();
    m_toClipEnd = false;
    m_leftMs = -1;
    m_tick->stop();
    emit changed();
}

qint64 SleepTimer::remainingMs() const
{
    if (m_leftMs < 0)
        return -1;
    return m_tick->isActive() ? qMax<qint64>(0, m_leftMs - m_since.elapsed()) : m_leftMs;
}

// Counts while a clip plays; what is left stays while it does not.
void SleepTimer::follow(Playback::State state)
{
    if (m_leftMs < 0)
        return;
    const bool playing = state == Playback::State::Playing;
    if (playing && !m_tick->isActive()) {
        m_since.start();
        m_tick->start();
        update();
    } else if (!playing && m_tick->isActive()) {
        m_leftMs = remainingMs();
        m_tick->stop();
        endFade(); // a fade goes on if the clip does
    }
}

void SleepTimer::update()
{
    const qint64 left = remainingMs();
    if (left <= 0) {
        // Paused before the volume comes back, so that it is not heard.
        m_leftMs = -1;
        m_tick->stop();
        m_playback->pause();
        endFade();
        emit expired();
        emit changed();
        return;
    }
    if (left < m_fadeMs) {
        m_fading = true;
        m_playback->setFade(double(left) / m_fadeMs);
    }
    const qint64 seconds = (left + 999) / 1000;
    if (seconds != m_shownSeconds) {
        m_shownSeconds = seconds;
        emit changed();
    }
}

void SleepTimer::endFade()
{
    if (!m_fading)
        return;
    m_fading = false;
    m_playback->setFade(1.0);
}
