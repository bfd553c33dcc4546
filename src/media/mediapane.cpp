#include "media/mediapane.h"

#include "media/idleinhibitor.h"
#include "media/mprisservice.h"
#include "media/sleeptimer.h"
#include "media/smartspeed.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProxyStyle>
#include <QResizeEvent>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <climits>
#include <tuple>
#include <cmath>
#include <iterator>

namespace {

// What podcast and audiobook players offer; the pitch stays at each.
const double kSpeeds[] = {0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0};
constexpr int kNormalSpeed = 2; // 1x
// The podcast convention: back a little, on a little more.
constexpr qint64 kBackMs = 15000;
constexpr qint64 kForwardMs = 30000;
const int kSleepMinutes[] = {15, 30, 45, 60, 90};

QString formatTime(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    const QString minSec = QStringLiteral("%1:%2")
                               .arg((seconds / 60) % 60, hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minSec) : minSec;
}

// As a listener hears it: "1 分 5 秒".
QString spokenTime(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    QString words;
    if (hours > 0)
        words = MediaPane::tr("%1 小时 ").arg(hours);
    if (seconds >= 60)
        words += MediaPane::tr("%1 分 ").arg((seconds / 60) % 60);
    return words + MediaPane::tr("%1 秒").arg(seconds % 60);
}

// Time saved: tenths of seconds count while it is short.
QString savedTime(qint64 ms)
{
    return ms < 60000 ? MediaPane::tr("%1 秒").arg(ms / 1000.0, 0, 'f', 1) : spokenTime(ms);
}

QString errorReason(Playback::Error error)
{
    switch (error) {
    case Playback::Error::Resource: return MediaPane::tr("无法读取音频");
    case Playback::Error::Format: return MediaPane::tr("不支持此音频格式");
    case Playback::Error::Network: return MediaPane::tr("网络错误");
    case Playback::Error::AccessDenied: return MediaPane::tr("无权访问此音频");
    case Playback::Error::ServiceMissing: return MediaPane::tr("缺少播放组件");
    case Playback::Error::TooLarge: return MediaPane::tr("音频过大");
    case Playback::Error::TimedOut: return MediaPane::tr("等待超时");
    default: return MediaPane::tr("未知错误");
    }
}

// A left click on a slider's track jumps there, instead of moving one page.
class JumpClickStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

void setName(QWidget *widget, const QString &name)
{
    widget->setToolTip(name);
    widget->setAccessibleName(name);
}

} // namespace

// A one-line label that shortens its text with "…" when it is too narrow.
class StatusLine : public QLabel
{
public:
    explicit StatusLine(QWidget *parent = nullptr)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setAccessibleName(MediaPane::tr("状态"));
    }

    QString fullText() const { return m_text; }
    // A screen reader reads the whole line, and hears of each change.
    void setFullText(const QString &text)
    {
        if (text != m_text)
            setAccessibleDescription(text);
        m_text = text;
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_text, Qt::ElideRight, qMax(0, contentsRect().width()))); }

    QString m_text;
};

MediaPane::MediaPane(QWidget *parent)
    : QWidget(parent)
    , m_playback(new Playback(this))
    , m_sleep(new SleepTimer(m_playback))
    , m_inhibitor(new IdleInhibitor(this))
    , m_backButton(new QToolButton(this))
    , m_playButton(new QToolButton(this))
    , m_forwardButton(new QToolButton(this))
    , m_stopButton(new QToolButton(this))
    , m_positionSlider(new QSlider(Qt::Horizontal, this))
    , m_timeLabel(new QLabel(this))
    , m_statusLine(new StatusLine(this))
    , m_skipButton(new QToolButton(this))
    , m_boostButton(new QToolButton(this))
    , m_sleepButton(new QToolButton(this))
    , m_sleepMenu(new QMenu(this))
    , m_muteButton(new QToolButton(this))
    , m_volumeSlider(new QSlider(Qt::Horizontal, this))
    , m_speedBox(new QComboBox(this))
{
    auto *jumpClicks = new JumpClickStyle;
    jumpClicks->setParent(this);

    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_playButton->setAutoRaise(true);
    m_playButton->setEnabled(false);
    const std::tuple<QToolButton *, const char *, QStyle::StandardPixmap, QString> skips[] = {
        {m_backButton, "backButton", QStyle::SP_MediaSeekBackward, tr("后退 15 秒")},
        {m_forwardButton, "forwardButton", QStyle::SP_MediaSeekForward, tr("前进 30 秒")}};
    for (const auto &[button, name, icon, words] : skips) {
        button->setObjectName(QLatin1String(name));
        button->setAutoRaise(true);
        button->setIcon(style()->standardIcon(icon));
        setName(button, words);
        button->setEnabled(false); // until a clip can seek
    }
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setAutoRaise(true);
    m_stopButton->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    setName(m_stopButton, tr("停止"));
    m_stopButton->setEnabled(false);

    m_positionSlider->setObjectName(QStringLiteral("positionSlider"));
    m_positionSlider->setStyle(jumpClicks);
    m_positionSlider->setRange(0, 0);
    m_positionSlider->setSingleStep(5000); // the arrow keys
    m_positionSlider->setPageStep(30000);  // PageUp and PageDown
    setName(m_positionSlider, tr("播放位置"));
    m_positionSlider->setEnabled(false); // until a clip can seek

    m_timeLabel->setObjectName(QStringLiteral("timeLabel"));
    m_timeLabel->setAccessibleDescription(tr("已播放的时间 / 音频的总时长"));
    m_statusLine->setObjectName(QStringLiteral("statusLabel"));

    // Acted on when toggled, which is also how a screen reader switches them.
    const std::pair<QToolButton *, QString> switches[] = {{m_skipButton, QStringLiteral("skipSilenceButton")},
                                                          {m_boostButton, QStringLiteral("voiceBoostButton")}};
    for (const auto &[button, name] : switches) {
        button->setObjectName(name);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }
    m_skipButton->setText(tr("跳过静音"));
    m_skipButton->setAccessibleName(tr("跳过静音")); // its tooltip also says what it saved
    m_boostButton->setText(tr("人声增强"));
    setName(m_boostButton, tr("人声增强"));
    m_boostButton->setToolTip(tr("人声增强：把人声调到统一的响度，并去掉低频噪声"));

    m_sleepButton->setObjectName(QStringLiteral("sleepButton"));
    m_sleepButton->setAutoRaise(true);
    m_sleepButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_sleepButton->setPopupMode(QToolButton::InstantPopup);
    m_sleepButton->setMenu(m_sleepMenu);
    for (const int minutes : kSleepMinutes)
        m_sleepMenu->addAction(tr("%1 分钟").arg(minutes), this, [this, minutes] { m_sleep->start(minutes); });
    m_sleepMenu->addSeparator();
    QAction *cancelSleep = m_sleepMenu->addAction(tr("取消定时"), m_sleep, &SleepTimer::cancel);
    cancelSleep->setObjectName(QStringLiteral("cancelSleepAction"));

    m_muteButton->setObjectName(QStringLiteral("muteButton"));
    m_muteButton->setAutoRaise(true);
    m_volumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    m_volumeSlider->setStyle(jumpClicks);
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setValue(m_playback->volume());
    m_volumeSlider->setMinimumWidth(60);
    m_volumeSlider->setMaximumWidth(90);
    m_volumeSlider->setAccessibleName(tr("音量"));

    m_speedBox->setObjectName(QStringLiteral("speedBox"));
    setName(m_speedBox, tr("播放速度"));
    // On Linux a combo box is named by its current item; a screen reader
    // names it by the label it is the buddy of.
    auto *speedLabel = new QLabel(tr("速度"), this);
    speedLabel->setObjectName(QStringLiteral("speedLabel"));
    speedLabel->setAccessibleName(tr("播放速度"));
    speedLabel->setBuddy(m_speedBox);
    for (const double speed : kSpeeds)
        m_speedBox->addItem(QStringLiteral("%1×").arg(speed));
    m_speedBox->setCurrentIndex(kNormalSpeed);

    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(4);
    top->addWidget(m_backButton);
    top->addWidget(m_playButton);
    top->addWidget(m_forwardButton);
    top->addWidget(m_stopButton);
    top->addWidget(m_positionSlider, 1);
    top->addWidget(m_timeLabel);

    auto *middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(4);
    middle->addWidget(m_skipButton);
    middle->addWidget(m_boostButton);
    middle->addWidget(m_sleepButton);
    middle->addStretch(1);
    middle->addWidget(m_muteButton);
    middle->addWidget(m_volumeSlider);
    middle->addWidget(speedLabel);
    middle->addWidget(m_speedBox);

    // The status line has a row of its own: it is what a failure says.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(m_statusLine);

    connect(m_backButton, &QToolButton::clicked, this, [this] { skip(-kBackMs); });
    connect(m_forwardButton, &QToolButton::clicked, this, [this] { skip(kForwardMs); });
    connect(m_playButton, &QToolButton::clicked, this, &MediaPane::togglePlay);
    connect(m_stopButton, &QToolButton::clicked, this, &MediaPane::stop);
    connect(m_positionSlider, &QSlider::sliderMoved, this, &MediaPane::seekTo);
    connect(m_positionSlider, &QSlider::actionTriggered, this, [this](int action) {
        // Keys and clicks on the track seek as well as drags do.
        if (action != QAbstractSlider::SliderMove || !m_positionSlider->isSliderDown())
            seekTo(m_positionSlider->sliderPosition());
    });
    connect(m_volumeSlider, &QSlider::valueChanged, m_playback, &Playback::setVolume);
    SmartSpeed *smart = m_playback->smartSpeed();
    connect(m_skipButton, &QToolButton::toggled, smart, &SmartSpeed::setSkipSilence);
    connect(m_boostButton, &QToolButton::toggled, smart, &SmartSpeed::setBoostVoice);
    connect(smart, &SmartSpeed::savedChanged, this, &MediaPane::showSaved);
    connect(m_muteButton, &QToolButton::clicked, this, [this] { m_playback->setMuted(!m_playback->isMuted()); });
    connect(m_speedBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        applySpeed();
        emit speedChanged(speed());
    });

    connect(m_playback, &Playback::stateChanged, this, &MediaPane::showState);
    connect(m_playback, &Playback::statusChanged, this, &MediaPane::showStatus);
    connect(m_playback, &Playback::errorOccurred, this, &MediaPane::showError);
    connect(m_playback, &Playback::durationChanged, this, &MediaPane::showDuration);
    connect(m_playback, &Playback::seekableChanged, this, &MediaPane::showSeekable);
    connect(m_sleep, &SleepTimer::changed, this, &MediaPane::showSleep);
    connect(m_sleep, &SleepTimer::expired, this, [this] { setClipStatus(tr("睡眠定时已暂停播放")); });
    // No suspending for idleness while a clip plays.
    connect(m_playback, &Playback::stateChanged, m_inhibitor,
            [this](Playback::State state) { m_inhibitor->setWanted(state == Playback::State::Playing); });
    connect(m_playback, &Playback::positionChanged, this, &MediaPane::showPosition);
    connect(m_playback, &Playback::volumeChanged, this, &MediaPane::showVolume);
    connect(m_playback, &Playback::mutedChanged, this, &MediaPane::showVolume);

    // Space plays and pauses wherever the focus is in the pane; the media
    // keys work anywhere in the window. A keyboard's single play key sends
    // "play", so that one toggles too.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, this, &MediaPane::togglePlay);
    const std::pair<Qt::Key, void (MediaPane::*)()> mediaKeys[] = {
        {Qt::Key_MediaPlay, &MediaPane::togglePlay},
        {Qt::Key_MediaTogglePlayPause, &MediaPane::togglePlay},
        {Qt::Key_MediaPause, &MediaPane::pause},
        {Qt::Key_MediaStop, &MediaPane::stop},
    };
    for (const auto &[key, command] : mediaKeys) {
        auto *shortcut = new QShortcut(QKeySequence(key), this, nullptr, nullptr, Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, command);
    }

    showState(m_playback->state());
    showVolume();
    showSaved();
    showSleep();
    showTime();
    if (!m_playback->isAvailable())
        setClipStatus(errorReason(Playback::Error::ServiceMissing),
                      QStringLiteral("missing GStreamer element: ") + m_playback->missingElement());

    new MprisService(this);
}

QString MediaPane::url() const
{
    return m_url;
}

void MediaPane::setClipNames(const QHash<QString, QString> &names, const QString &album)
{
    m_names = names;
    m_namesAlbum = album;
}

void MediaPane::askToOpen(const QString &address)
{
    emit openRequested({address});
}

void MediaPane::setUrl(const QString &address)
{
    m_url = address;
    const auto named = m_names.constFind(address);
    m_title = named != m_names.constEnd() ? *named : address;
    m_album = named != m_names.constEnd() ? m_namesAlbum : QString();
    ++m_clipNumber;
    m_failed = false;
    m_position = 0;
    clearNotice(Notice::UntilClipEvent); // a new clip is news
    setClipStatus(QString());
    m_positionSlider->setRange(0, 0);
    m_playback->setSource(QUrl(address));
    applySpeed();
    m_playback->play();
    m_playButton->setEnabled(true);
    m_stopButton->setEnabled(true);
    showTime();
    emit clipChanged();
}

QString MediaPane::statusText() const
{
    return m_statusLine->fullText();
}

QString MediaPane::statusToolTip() const
{
    return m_statusLine->toolTip();
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

// Something to say about the clip replaces a passing notice; a clip that
// merely goes on loading or playing does not.
void MediaPane::setClipStatus(const QString &text, const QString &toolTip)
{
    m_clipStatus = text;
    m_clipStatusTip = toolTip;
    if (!text.isEmpty())
        clearNotice(Notice::UntilClipEvent);
    refreshStatus();
}

// A notice first, then what the clip is doing; with nothing to say, the
// name of the clip that loads or plays.
void MediaPane::refreshStatus()
{
    const bool notice = !m_notice.isEmpty();
    const bool named = !notice && m_clipStatus.isEmpty() && m_playback->state() != Playback::State::Stopped;
    m_statusLine->setFullText(notice ? m_notice : named ? m_title : m_clipStatus);
    m_statusLine->setToolTip(notice ? m_noticeTip : named ? m_url : m_clipStatusTip);
}

// A clip that failed is fetched again, and shows its new state.
void MediaPane::play()
{
    if (m_url.isEmpty())
        return;
    if (m_failed) {
        m_failed = false;
        setClipStatus(QString());
    }
    m_playback->play();
}

void MediaPane::pause()
{
    if (m_playback->state() == Playback::State::Playing)
        m_playback->pause();
}

void MediaPane::togglePlay()
{
    if (m_playback->state() == Playback::State::Playing)
        pause();
    else
        play();
}

void MediaPane::stop()
{
    m_playback->stop();
}

bool MediaPane::canSeek() const
{
    return m_playback->duration() > 0 && m_playback->isSeekable();
}

void MediaPane::skip(qint64 ms)
{
    seekTo(m_playback->position() + ms);
}

void MediaPane::seekTo(qint64 ms)
{
    if (!canSeek())
        return;
    ms = qBound<qint64>(0, ms, m_playback->duration());
    m_playback->setPosition(ms);
    showPosition(ms); // a paused player may not report it
    emit seeked(ms);
}

double MediaPane::speed() const
{
    return kSpeeds[qBound(0, m_speedBox->currentIndex(), int(std::size(kSpeeds)) - 1)];
}

void MediaPane::setSpeed(double speed)
{
    int nearest = 0;
    for (int i = 1; i < int(std::size(kSpeeds)); ++i) {
        if (std::abs(kSpeeds[i] - speed) < std::abs(kSpeeds[nearest] - speed))
            nearest = i;
    }
    m_speedBox->setCurrentIndex(nearest);
}

double MediaPane::minimumSpeed()
{
    return kSpeeds[0];
}

double MediaPane::maximumSpeed()
{
    return kSpeeds[std::size(kSpeeds) - 1];
}

void MediaPane::applySpeed()
{
    if (m_playback->rate() != speed())
        m_playback->setRate(speed());
}

void MediaPane::showState(Playback::State state)
{
    const bool playing = state == Playback::State::Playing;
    if (playing && m_clipStatus == tr("睡眠定时已暂停播放"))
        setClipStatus(QString()); // the listener is back
    m_playButton->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    setName(m_playButton, playing ? tr("暂停") : tr("播放"));
    if (state == Playback::State::Stopped && !m_failed)
        showPosition(m_playback->position());
    refreshStatus();
}

void MediaPane::showStatus(Playback::Status status)
{
    if (m_failed)
        return;
    switch (status) {
    case Playback::Status::Loading:
        setClipStatus(tr("加载中…"));
        break;
    case Playback::Status::Buffering:
        setClipStatus(tr("缓冲中…"));
        break;
    case Playback::Status::EndOfMedia:
        setClipStatus(tr("播放完毕"));
        break;
    case Playback::Status::Invalid:
        m_failed = true;
        setClipStatus(tr("无法播放此音频"), m_url);
        break;
    default:
        setClipStatus(QString());
        break;
    }
    if (status == Playback::Status::Loaded || status == Playback::Status::Buffered)
        showDuration(m_playback->duration());
}

void MediaPane::showError(Playback::Error error, const QString &text, bool cutShort)
{
    m_failed = true;
    setClipStatus((cutShort ? tr("音频未下载完整：%1") : tr("无法播放此音频：%1")).arg(errorReason(error)),
                  (text.isEmpty() ? QString() : text + QLatin1Char('\n')) + m_url);
}

void MediaPane::showDuration(qint64 duration)
{
    m_positionSlider->setRange(0, int(qBound<qint64>(0, duration, qint64(INT_MAX))));
    showSeekable();
    showTime();
}

void MediaPane::showSeekable()
{
    for (QWidget *control : {static_cast<QWidget *>(m_positionSlider), static_cast<QWidget *>(m_backButton),
                             static_cast<QWidget *>(m_forwardButton)})
        control->setEnabled(canSeek());
}

// While it runs, what is left: shown as a time, said in words.
void MediaPane::showSleep()
{
    const qint64 left = m_sleep->remainingMs();
    m_sleepButton->setText(left < 0 ? tr("睡眠定时") : tr("睡眠 %1").arg(formatTime(left + 999)));
    setName(m_sleepButton, left < 0 ? tr("睡眠定时") : tr("睡眠定时：还剩 %1").arg(spokenTime(left + 999)));
    m_sleepMenu->findChild<QAction *>(QStringLiteral("cancelSleepAction"))->setVisible(left >= 0);
}

void MediaPane::showPosition(qint64 position)
{
    m_position = position;
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(int(qBound<qint64>(0, position, qint64(INT_MAX))));
    showTime();
}

void MediaPane::showTime()
{
    m_timeLabel->setText(QStringLiteral("%1 / %2").arg(formatTime(m_position), formatTime(m_playback->duration())));
    const QString spoken = tr("播放时间：已播放 %1，共 %2").arg(spokenTime(m_position), spokenTime(m_playback->duration()));
    if (spoken != m_timeLabel->accessibleName())
        m_timeLabel->setAccessibleName(spoken);
}

void MediaPane::showSaved()
{
    const SmartSpeed *smart = m_playback->smartSpeed();
    m_skipButton->setToolTip(tr("跳过静音：缩短说话间的停顿\n已节省 %1（本音频），共 %2（自启动以来）")
                                 .arg(savedTime(smart->savedInClipMs()), savedTime(smart->savedMs())));
}

void MediaPane::showVolume()
{
    const bool muted = m_playback->isMuted();
    m_muteButton->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    setName(m_muteButton, muted ? tr("取消静音") : tr("静音"));
    m_volumeSlider->setValue(m_playback->volume());
    m_volumeSlider->setToolTip(tr("音量：%1%").arg(m_playback->volume()));
}
