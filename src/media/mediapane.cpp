#include "media/mediapane.h"

#include <QComboBox>
#include <QVBoxLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QTime>
#include <QToolButton>
#include <QUrl>

#include <climits>
#include <iterator>

namespace {

const double kSpeeds[] = {1.0, 1.25, 1.5, 2.0};

QString formatTime(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    const QString minSec = QStringLiteral("%1:%2")
                               .arg((seconds / 60) % 60, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minSec) : minSec;
}

} // namespace

MediaPane::MediaPane(QWidget *parent)
    : QWidget(parent)
    , m_player(new QMediaPlayer(this))
    , m_playButton(new QToolButton(this))
    , m_stopButton(new QToolButton(this))
    , m_positionSlider(new QSlider(Qt::Horizontal, this))
    , m_timeLabel(new QLabel(this))
    , m_statusLabel(new QLabel(this))
    , m_muteButton(new QToolButton(this))
    , m_volumeSlider(new QSlider(Qt::Horizontal, this))
    , m_speedBox(new QComboBox(this))
{
    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_playButton->setAutoRaise(true);
    m_playButton->setEnabled(false);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setAutoRaise(true);
    m_stopButton->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    m_stopButton->setToolTip(tr("停止"));
    m_stopButton->setEnabled(false);

    m_positionSlider->setObjectName(QStringLiteral("positionSlider"));
    m_positionSlider->setRange(0, 0);
    m_positionSlider->setToolTip(tr("播放位置"));

    m_timeLabel->setObjectName(QStringLiteral("timeLabel"));
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_muteButton->setObjectName(QStringLiteral("muteButton"));
    m_muteButton->setAutoRaise(true);
    m_volumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setValue(m_player->volume());
    m_volumeSlider->setMaximumWidth(90);
    m_volumeSlider->setToolTip(tr("音量"));

    m_speedBox->setObjectName(QStringLiteral("speedBox"));
    m_speedBox->setToolTip(tr("播放速度"));
    for (const double speed : kSpeeds)
        m_speedBox->addItem(QStringLiteral("%1×").arg(speed));

    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(4);
    top->addWidget(m_playButton);
    top->addWidget(m_stopButton);
    top->addWidget(m_positionSlider, 1);
    top->addWidget(m_timeLabel);

    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(4);
    bottom->addWidget(m_statusLabel, 1);
    bottom->addWidget(m_muteButton);
    bottom->addWidget(m_volumeSlider);
    bottom->addWidget(m_speedBox);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addLayout(bottom);

    connect(m_playButton, &QToolButton::clicked, this, &MediaPane::togglePlay);
    connect(m_stopButton, &QToolButton::clicked, m_player, &QMediaPlayer::stop);
    connect(m_positionSlider, &QSlider::sliderMoved, m_player, &QMediaPlayer::setPosition);
    connect(m_positionSlider, &QSlider::actionTriggered, this, [this](int action) {
        // Clicks and keys on the track seek too, not only drags.
        if (action != QAbstractSlider::SliderMove)
            m_player->setPosition(m_positionSlider->sliderPosition());
    });
    connect(m_volumeSlider, &QSlider::valueChanged, m_player, &QMediaPlayer::setVolume);
    connect(m_muteButton, &QToolButton::clicked, this, [this] { m_player->setMuted(!m_player->isMuted()); });
    connect(m_speedBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MediaPane::setSpeed);

    connect(m_player, &QMediaPlayer::stateChanged, this, &MediaPane::updatePlayButton);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &MediaPane::updateStatus);
    connect(m_player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this, &MediaPane::showError);
    connect(m_player, &QMediaPlayer::durationChanged, this, &MediaPane::updateDuration);
    connect(m_player, &QMediaPlayer::positionChanged, this, &MediaPane::updatePosition);
    connect(m_player, &QMediaPlayer::mutedChanged, this, &MediaPane::updateMuteButton);
    connect(m_player, &QMediaPlayer::volumeChanged, m_volumeSlider, &QSlider::setValue);

    updatePlayButton(m_player->state());
    updateMuteButton(m_player->isMuted());
    updateTimeLabel();
    if (!m_player->isAvailable())
        setClipStatus(tr("没有可用的播放组件"));
}

QString MediaPane::url() const
{
    return m_url;
}

void MediaPane::setUrl(const QString &address)
{
    m_url = address;
    m_failed = false;
    setClipStatus(QString());
    m_positionSlider->setRange(0, 0);
    m_player->setMedia(QUrl(address));
    m_player->setPlaybackRate(kSpeeds[qMax(0, m_speedBox->currentIndex())]);
    m_player->play();
    m_playButton->setEnabled(true);
    m_stopButton->setEnabled(true);
    updateTimeLabel();
}

QString MediaPane::statusText() const
{
    return m_statusLabel->text();
}

QString MediaPane::statusToolTip() const
{
    return m_statusLabel->toolTip();
}

void MediaPane::showNotice(const QString &text, const QString &toolTip, Notice kind)
{
    m_notice = text;
    m_noticeTip = toolTip;
    m_noticeKind = kind;
    refreshStatus();
}

void MediaPane::clearNotice(Notice kind)
{
    if (m_noticeKind == kind)
        showNotice(QString(), QString(), Notice::Lasting);
}

void MediaPane::setClipStatus(const QString &text, const QString &toolTip)
{
    m_clipStatus = text;
    m_clipStatusTip = toolTip;
    clearNotice(Notice::UntilClipEvent);
    refreshStatus();
}

void MediaPane::refreshStatus()
{
    const bool notice = !m_notice.isEmpty();
    m_statusLabel->setText(notice ? m_notice : m_clipStatus);
    m_statusLabel->setToolTip(notice ? m_noticeTip : m_clipStatusTip);
}

void MediaPane::togglePlay()
{
    if (m_player->state() == QMediaPlayer::PlayingState)
        m_player->pause();
    else
        m_player->play();
}

void MediaPane::updatePlayButton(QMediaPlayer::State state)
{
    const bool playing = state == QMediaPlayer::PlayingState;
    m_playButton->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_playButton->setToolTip(playing ? tr("暂停") : tr("播放"));
    if (state == QMediaPlayer::StoppedState && !m_failed)
        updatePosition(m_player->position());
}

void MediaPane::updateStatus(QMediaPlayer::MediaStatus status)
{
    if (m_failed)
        return;
    switch (status) {
    case QMediaPlayer::LoadingMedia:
        setClipStatus(tr("加载中…"));
        break;
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::StalledMedia:
        setClipStatus(tr("缓冲中…"));
        break;
    case QMediaPlayer::EndOfMedia:
        setClipStatus(tr("播放完毕"));
        break;
    case QMediaPlayer::InvalidMedia:
        m_failed = true;
        setClipStatus(tr("无法播放此音频"), m_url);
        break;
    default:
        setClipStatus(QString());
        break;
    }
}

void MediaPane::showError(QMediaPlayer::Error error)
{
    if (error == QMediaPlayer::NoError)
        return;
    m_failed = true;
    const QString detail = m_player->errorString();
    setClipStatus(detail.isEmpty() ? tr("无法播放此音频") : tr("无法播放此音频：%1").arg(detail), m_url);
}

void MediaPane::updateDuration(qint64 duration)
{
    m_positionSlider->setRange(0, int(qBound<qint64>(0, duration, INT_MAX)));
    updateTimeLabel();
}

void MediaPane::updatePosition(qint64 position)
{
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(int(qBound<qint64>(0, position, INT_MAX)));
    updateTimeLabel();
}

void MediaPane::updateTimeLabel()
{
    m_timeLabel->setText(QStringLiteral("%1 / %2").arg(formatTime(m_player->position()),
                                                       formatTime(m_player->duration())));
}

void MediaPane::updateMuteButton(bool muted)
{
    m_muteButton->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    m_muteButton->setToolTip(muted ? tr("取消静音") : tr("静音"));
}

void MediaPane::setSpeed(int index)
{
    if (index >= 0 && index < int(std::size(kSpeeds)))
        m_player->setPlaybackRate(kSpeeds[index]);
}
