#include "playersession.h"

#include "idleinhibitor.h"
#include "sleeptimer.h"
#include "smartspeed.h"

#include <QUrl>

#include <cmath>

namespace {

constexpr int kNormalSpeed = 2; // 1x

} // namespace

PlayerSession::PlayerSession(QObject *parent, QNetworkAccessManager *network)
    : QObject(parent)
    , m_playback(new Playback(this, network))
    , m_sleep(new SleepTimer(m_playback))
    , m_inhibitor(new IdleInhibitor(this))
    , m_speedIndex(kNormalSpeed)
{
    connect(m_playback, &Playback::stateChanged, this, &PlayerSession::followState);
    connect(m_playback, &Playback::statusChanged, this, &PlayerSession::followStatus);
    connect(m_playback, &Playback::errorOccurred, this, &PlayerSession::followError);
    connect(m_playback, &Playback::reconnectingChanged, this, &PlayerSession::refreshStatus);
    connect(m_sleep, &SleepTimer::expired, this, [this] { setReport(Report::SleepPaused); });
    if (!m_playback->isAvailable())
        setReport(Report::Unavailable, Playback::reason(Playback::Error::ServiceMissing),
                  QStringLiteral("missing GStreamer element: ") + m_playback->missingElement());
}

PlayerSession::~PlayerSession() = default;

// What podcast and audiobook players offer; the pitch stays at each.
const QVector<double> &PlayerSession::speeds()
{
    static const QVector<double> offered{0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0};
    return offered;
}

void PlayerSession::setClipList(const QVector<Clip> &clips, const QString &album)
{
    m_clips = clips;
    m_clipsAlbum = album;
    emit clipListChanged();
}

int PlayerSession::row() const
{
    for (int i = 0; i < m_clips.size(); ++i) {
        if (m_clips.at(i).address == m_url)
            return i;
    }
    return -1;
}

// The place in the clip being left is kept, unless it failed or is not
// known yet.
void PlayerSession::leave()
{
    if (m_url.isEmpty() || m_report == Report::Failed || !canSeek())
        return;
    m_places.leave(m_url, m_playback->position(), m_playback->duration());
    emit placesChanged();
}

void PlayerSession::open(const QString &address)
{
    leave();
    m_url = address;
    const int listed = row();
    m_title = listed >= 0 ? m_clips.at(listed).name : address;
    m_album = listed >= 0 ? m_clipsAlbum : QString();
    ++m_clipNumber;
    clearNotice(Notice::UntilClipEvent); // a new clip is news
    setReport(Report::None);
    m_playback->setSource(QUrl(address));
    applySpeed();
    const qint64 start = m_places.startOf(address);
    if (start > 0)
        m_playback->setPosition(start); // once it has loaded, before anything is heard
    m_playback->play();
    emit clipChanged();
}

bool PlayerSession::canGoNext() const
{
    const int listed = row();
    return listed >= 0 && listed + 1 < m_clips.size();
}

void PlayerSession::next()
{
    if (canGoNext())
        open(m_clips.at(row() + 1).address);
}

void PlayerSession::previous()
{
    if (m_url.isEmpty())
        return;
    const int listed = row();
    if (listed > 0 && m_playback->position() < kPreviousWithinMs) {
        open(m_clips.at(listed - 1).address);
        return;
    }
    seekTo(0);
    if (m_playback->state() == Playback::State::Stopped)
        play();
}

// Heard to its end: from the start next time, and the next row follows
// in a reading, unless the sleep timer was to stop it there.
void PlayerSession::ended()
{
    m_places.forget(m_url);
    emit placesChanged();
    if (m_sleep->endsWithClip()) {
        m_sleep->clipEnded();
        return;
    }
    // Once the player is done with the end of this clip, and if nothing
    // else was opened meanwhile.
    if (m_continuous && canGoNext()) {
        QMetaObject::invokeMethod(this, [this, clip = m_clipNumber] {
            if (clip == m_clipNumber && m_report == Report::Ended)
                next();
        }, Qt::QueuedConnection);
    }
}

void PlayerSession::askToOpen(const QString &address)
{
    emit openRequested({address});
}

void PlayerSession::play()
{
    if (m_url.isEmpty())
        return;
    if (m_report == Report::Failed)
        setReport(Report::None);
    m_playback->play();
}

void PlayerSession::pause()
{
    if (m_playback->state() == Playback::State::Playing)
        m_playback->pause();
}

void PlayerSession::togglePlay()
{
    if (m_playback->state() == Playback::State::Playing)
        pause();
    else
        play();
}

// Stop means "from the start": the place is forgotten.
void PlayerSession::stop()
{
    m_playback->stop();
    m_places.forget(m_url);
    emit placesChanged();
}

bool PlayerSession::canSeek() const
{
    return m_playback->duration() > 0 && m_playback->isSeekable();
}

void PlayerSession::skip(qint64 ms)
{
    seekTo(m_playback->position() + ms);
}

void PlayerSession::seekTo(qint64 ms)
{
    if (!canSeek())
        return;
    ms = qBound<qint64>(0, ms, m_playback->duration());
    m_playback->setPosition(ms);
    emit seeked(ms);
}

void PlayerSession::setSpeedIndex(int index)
{
    index = qBound(0, index, int(speeds().size()) - 1);
    if (index == m_speedIndex)
        return;
    m_speedIndex = index;
    applySpeed();
    emit speedChanged(speed());
}

void PlayerSession::setSpeed(double speed)
{
    int nearest = 0;
    for (int i = 1; i < speeds().size(); ++i) {
        if (std::abs(speeds().at(i) - speed) < std::abs(speeds().at(nearest) - speed))
            nearest = i;
    }
    setSpeedIndex(nearest);
}

void PlayerSession::applySpeed()
{
    if (m_playback->rate() != speed())
        m_playback->setRate(speed());
}

void PlayerSession::setSkipSilence(bool on)
{
    if (on == m_skip)
        return;
    m_skip = on;
    m_playback->smartSpeed()->setSkipSilence(on);
    emit switchesChanged();
}

void PlayerSession::setPlaysOn(bool on)
{
    if (on == m_continuous)
        return;
    m_continuous = on;
    emit switchesChanged();
}

void PlayerSession::setBoostVoice(bool on)
{
    if (on == m_boost)
        return;
    m_boost = on;
    m_playback->smartSpeed()->setBoostVoice(on);
    emit switchesChanged();
}

void PlayerSession::followState(Playback::State state)
{
    if (state == Playback::State::Playing && m_report == Report::SleepPaused)
        setReport(Report::None); // the listener is back
    // No suspending for idleness while a clip plays.
    m_inhibitor->setWanted(state == Playback::State::Playing);
    refreshStatus(); // the name shows while it loads or plays
}

// A failed clip keeps its words until the next clip or play.
void PlayerSession::followStatus(Playback::Status status)
{
    if (m_report == Report::Failed)
        return;
    switch (status) {
    case Playback::Status::Loading:
        setReport(Report::Loading);
        break;
    case Playback::Status::Buffering:
        setReport(Report::Buffering);
        break;
    case Playback::Status::EndOfMedia:
        setReport(Report::Ended);
        ended();
        break;
    case Playback::Status::Invalid:
        setReport(Report::Failed, tr("无法播放此音频"), m_url);
        break;
    default:
        setReport(Report::None);
        break;
    }
}

void PlayerSession::followError(Playback::Error error, const QString &text, bool cutShort)
{
    setReport(Report::Failed,
              (cutShort ? tr("音频未下载完整：%1") : tr("无法播放此音频：%1")).arg(Playback::reason(error)),
              (text.isEmpty() ? QString() : text + QLatin1Char('\n')) + m_url);
}

// Something to say about the clip replaces a passing notice; a clip that
// merely goes on loading or playing does not.
void PlayerSession::setReport(Report report, const QString &text, const QString &toolTip)
{
    m_report = report;
    m_reportText = text;
    m_reportTip = toolTip;
    if (report != Report::None)
        clearNotice(Notice::UntilClipEvent);
    refreshStatus();
}

void PlayerSession::showNotice(const QString &text, const QString &toolTip, Notice kind)
{
    m_notice = text;
    m_noticeTip = toolTip;
    m_noticeKind = kind;
    refreshStatus();
}

void PlayerSession::clearNotice(Notice kind)
{
    if (m_noticeKind == kind)
        showNotice(QString(), QString(), Notice::Lasting);
}

void PlayerSession::refreshStatus()
{
    const QString text = statusText();
    const QString toolTip = statusToolTip();
    if (text == m_shown && toolTip == m_shownTip)
        return;
    m_shown = text;
    m_shownTip = toolTip;
    emit statusChanged();
}

// A notice first, then what the clip is doing; with nothing to say, the
// name of the clip that loads or plays.
QString PlayerSession::statusText() const
{
    if (!m_notice.isEmpty())
        return m_notice;
    switch (m_report) {
    case Report::None: return m_playback->state() != Playback::State::Stopped ? m_title : QString();
    case Report::Loading: return tr("加载中…");
    case Report::Buffering: {
        // Waiting for bytes that a broken download is asking for again.
        const int attempt = m_playback->reconnecting();
        if (attempt == 0)
            return tr("缓冲中…");
        return attempt == 1 ? tr("正在重新连接…") : tr("正在重新连接…（第 %1 次）").arg(attempt);
    }
    case Report::Ended: return tr("播放完毕");
    case Report::SleepPaused: return tr("睡眠定时已暂停播放");
    case Report::Failed:
    case Report::Unavailable: return m_reportText;
    }
    return QString();
}

QString PlayerSession::statusToolTip() const
{
    if (!m_notice.isEmpty())
        return m_noticeTip;
    if (m_report == Report::None)
        return m_playback->state() != Playback::State::Stopped ? m_url : QString();
    return m_reportTip;
}
