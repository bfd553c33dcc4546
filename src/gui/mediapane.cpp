#include "mediapane.h"

#include "playersession.h"
#include "positionslider.h"
#include "sleeptimer.h"
#include "smartspeed.h"
#include "statusline.h"
#include "timetext.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProxyStyle>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <iterator>
#include <tuple>

namespace {

const int kSleepMinutes[] = {15, 30, 45, 60, 90};

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

// A text button as big as its text and a little room, where a style would
// give it two spaces and more: the pane's controls fit the window's 400 px
// with the desktop's usual font, in rows no taller than its icon buttons.
class TextButton : public QToolButton
{
public:
    explicit TextButton(QWidget *parent)
        : QToolButton(parent)
    {
        setToolButtonStyle(Qt::ToolButtonTextOnly);
        setAutoRaise(true);
    }

    QSize sizeHint() const override
    {
        QSize size = QToolButton::sizeHint();
        int room = fontMetrics().horizontalAdvance(text()) + 2 * kRoom;
        if (menu())
            room += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, this);
        size.setWidth(qMin(size.width(), room));
        size.setHeight(qMin(size.height(), fontMetrics().height() + 2));
        return size;
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

private:
    static constexpr int kRoom = 5;
};

void setName(QWidget *widget, const QString &name)
{
    widget->setToolTip(name);
    widget->setAccessibleName(name);
}

int clampedToInt(qint64 value)
{
    return int(qBound<qint64>(0, value, qint64(INT_MAX)));
}

} // namespace

MediaPane::MediaPane(QWidget *parent)
    : QWidget(parent)
    , m_backButton(new QToolButton(this))
    , m_playButton(new QToolButton(this))
    , m_forwardButton(new QToolButton(this))
    , m_stopButton(new QToolButton(this))
    , m_positionSlider(new PositionSlider(this))
    , m_timeLabel(new QLabel(this))
    , m_statusLine(new StatusLine(this))
    , m_skipButton(new TextButton(this))
    , m_boostButton(new TextButton(this))
    , m_continuousButton(new TextButton(this))
    , m_sleepButton(new TextButton(this))
    , m_sleepMenu(new QMenu(this))
    , m_muteButton(new QToolButton(this))
    , m_volumeSlider(new QSlider(Qt::Horizontal, this))
    , m_speedLabel(new QLabel(tr("速度"), this))
    , m_speedBox(new QComboBox(this))
{
    buildControls();
    layOut();
    setEnabled(false); // until it has a session to show
}

void MediaPane::buildControls()
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
                                                          {m_boostButton, QStringLiteral("voiceBoostButton")},
                                                          {m_continuousButton, QStringLiteral("continuousButton")}};
    for (const auto &[button, name] : switches) {
        button->setObjectName(name);
        button->setCheckable(true);
    }
    m_skipButton->setText(tr("跳过静音"));
    m_skipButton->setAccessibleName(tr("跳过静音")); // its tooltip also says what it saved
    m_boostButton->setText(tr("人声增强"));
    setName(m_boostButton, tr("人声增强"));
    m_boostButton->setToolTip(tr("人声增强：把人声调到统一的响度，并去掉低频噪声"));
    m_continuousButton->setText(tr("连续播放"));
    m_continuousButton->setAccessibleName(tr("连续播放"));
    m_continuousButton->setToolTip(tr("连续播放：一段播完，接着播放列表中的下一段"));

    m_sleepButton->setObjectName(QStringLiteral("sleepButton"));
    m_sleepButton->setPopupMode(QToolButton::InstantPopup);
    m_sleepButton->setMenu(m_sleepMenu);

    m_muteButton->setObjectName(QStringLiteral("muteButton"));
    m_muteButton->setAutoRaise(true);
    m_volumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    m_volumeSlider->setStyle(jumpClicks);
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setMinimumWidth(24); // room for the sleep timer's longest words
    m_volumeSlider->setMaximumWidth(90);
    m_volumeSlider->setAccessibleName(tr("音量"));

    m_speedBox->setObjectName(QStringLiteral("speedBox"));
    setName(m_speedBox, tr("播放速度"));
    // On Linux a combo box is named by its current item; a screen reader
    // names it by the label it is the buddy of.
    m_speedLabel->setObjectName(QStringLiteral("speedLabel"));
    m_speedLabel->setAccessibleName(tr("播放速度"));
    m_speedLabel->setBuddy(m_speedBox);
    for (const double speed : PlayerSession::speeds())
        m_speedBox->addItem(QStringLiteral("%1×").arg(speed));
}

void MediaPane::buildSleepMenu()
{
    SleepTimer *sleep = m_session->sleepTimer();
    for (const int minutes : kSleepMinutes)
        m_sleepMenu->addAction(tr("%1 分钟").arg(minutes), sleep, [sleep, minutes] { sleep->start(minutes); });
    m_sleepMenu->addAction(tr("本段结束"), sleep, &SleepTimer::startToClipEnd);
    m_sleepMenu->addSeparator();
    QAction *cancelSleep = m_sleepMenu->addAction(tr("取消定时"), sleep, &SleepTimer::cancel);
    cancelSleep->setObjectName(QStringLiteral("cancelSleepAction"));
}

// Two rows of controls within the window's 400 px: where the clip is and
// how fast it goes, then the switches, the sleep timer and the volume. Tab
// goes through them as they stand.
void MediaPane::layOut()
{
    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(4);
    top->addWidget(m_backButton);
    top->addWidget(m_playButton);
    top->addWidget(m_forwardButton);
    top->addWidget(m_stopButton);
    top->addWidget(m_positionSlider, 1);
    top->addWidget(m_timeLabel);
    top->addWidget(m_speedLabel);
    top->addWidget(m_speedBox);

    auto *middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(4);
    middle->addWidget(m_skipButton);
    middle->addWidget(m_boostButton);
    middle->addWidget(m_continuousButton);
    middle->addWidget(m_sleepButton);
    middle->addStretch(1);
    middle->addWidget(m_muteButton);
    middle->addWidget(m_volumeSlider, 1);

    const QWidget *order[] = {m_backButton, m_playButton, m_forwardButton, m_stopButton, m_positionSlider, m_speedBox,
                              m_skipButton, m_boostButton, m_continuousButton, m_sleepButton, m_muteButton, m_volumeSlider};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget *>(order[i - 1]), const_cast<QWidget *>(order[i]));

    // The status line has a row of its own: it is what a failure says.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(m_statusLine);
}

void MediaPane::setSession(PlayerSession *session)
{
    Q_ASSERT(!m_session && session);
    m_session = session;
    buildSleepMenu();
    connectControls();
    connectSession();
    setEnabled(true);

    showState(session->playback()->state());
    showVolume();
    showSaved();
    showSleep();
    showSwitches();
    showSpeed();
    showDuration();
    showStatus();
}

void MediaPane::connectControls()
{
    PlayerSession *session = m_session;
    Playback *playback = session->playback();
    connect(m_backButton, &QToolButton::clicked, session, [session] { session->skip(-PlayerSession::kBackMs); });
    connect(m_forwardButton, &QToolButton::clicked, session, [session] { session->skip(PlayerSession::kForwardMs); });
    connect(m_playButton, &QToolButton::clicked, session, &PlayerSession::togglePlay);
    connect(m_stopButton, &QToolButton::clicked, session, &PlayerSession::stop);
    connect(m_positionSlider, &QSlider::sliderMoved, this, &MediaPane::seekFromSlider);
    connect(m_positionSlider, &QSlider::actionTriggered, this, [this](int action) {
        // Keys and clicks on the track seek as well as drags do.
        if (action != QAbstractSlider::SliderMove || !m_positionSlider->isSliderDown())
            seekFromSlider(m_positionSlider->sliderPosition());
    });
    connect(m_volumeSlider, &QSlider::valueChanged, playback, &Playback::setVolume);
    connect(m_skipButton, &QToolButton::toggled, session, &PlayerSession::setSkipSilence);
    connect(m_boostButton, &QToolButton::toggled, session, &PlayerSession::setBoostVoice);
    connect(m_continuousButton, &QToolButton::toggled, session, &PlayerSession::setPlaysOn);
    connect(m_muteButton, &QToolButton::clicked, playback, [playback] { playback->setMuted(!playback->isMuted()); });
    connect(m_speedBox, QOverload<int>::of(&QComboBox::currentIndexChanged), session, &PlayerSession::setSpeedIndex);

    // Space plays and pauses wherever the focus is in the pane; the media
    // keys work anywhere in the window. A keyboard's single play key sends
    // "play", so that one toggles too.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(space, &QShortcut::activated, session, &PlayerSession::togglePlay);
    const std::pair<Qt::Key, void (PlayerSession::*)()> mediaKeys[] = {
        {Qt::Key_MediaPlay, &PlayerSession::togglePlay},
        {Qt::Key_MediaTogglePlayPause, &PlayerSession::togglePlay},
        {Qt::Key_MediaPause, &PlayerSession::pause},
        {Qt::Key_MediaStop, &PlayerSession::stop},
        {Qt::Key_MediaNext, &PlayerSession::next},
        {Qt::Key_MediaPrevious, &PlayerSession::previous},
    };
    for (const auto &[key, command] : mediaKeys) {
        auto *shortcut = new QShortcut(QKeySequence(key), this, nullptr, nullptr, Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, session, command);
    }
}

void MediaPane::connectSession()
{
    const Playback *playback = m_session->playback();
    connect(m_session, &PlayerSession::statusChanged, this, &MediaPane::showStatus);
    connect(m_session, &PlayerSession::switchesChanged, this, &MediaPane::showSwitches);
    connect(m_session, &PlayerSession::speedChanged, this, &MediaPane::showSpeed);
    connect(m_session, &PlayerSession::clipChanged, this, [this] {
        m_playButton->setEnabled(true);
        m_stopButton->setEnabled(true);
        showDuration();
    });
    connect(playback, &Playback::stateChanged, this, &MediaPane::showState);
    connect(playback, &Playback::statusChanged, this, [this](Playback::Status status) {
        if (status == Playback::Status::Loaded || status == Playback::Status::Buffered)
            showDuration();
    });
    connect(playback, &Playback::durationChanged, this, &MediaPane::showDuration);
    connect(playback, &Playback::seekableChanged, this, &MediaPane::showSeekable);
    connect(playback, &Playback::positionChanged, this, &MediaPane::showPosition);
    connect(playback, &Playback::volumeChanged, this, &MediaPane::showVolume);
    connect(playback, &Playback::mutedChanged, this, &MediaPane::showVolume);
    connect(playback->smartSpeed(), &SmartSpeed::savedChanged, this, &MediaPane::showSaved);
    connect(m_session->sleepTimer(), &SleepTimer::changed, this, &MediaPane::showSleep);
}

QString MediaPane::url() const
{
    return m_session ? m_session->url() : QString();
}

void MediaPane::setUrl(const QString &address)
{
    if (m_session)
        m_session->open(address);
}

QString MediaPane::statusText() const
{
    return m_statusLine->fullText();
}

QString MediaPane::statusToolTip() const
{
    return m_statusLine->toolTip();
}

void MediaPane::seekFromSlider(qint64 ms)
{
    m_session->seekTo(ms);
}

void MediaPane::showState(Playback::State state)
{
    const bool playing = state == Playback::State::Playing;
    m_playButton->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    setName(m_playButton, playing ? tr("暂停") : tr("播放"));
    if (state == Playback::State::Stopped && m_session->report() != PlayerSession::Report::Failed)
        showPosition(m_session->position());
}

void MediaPane::showStatus()
{
    m_statusLine->setFullText(m_session->statusText());
    m_statusLine->setToolTip(m_session->statusToolTip());
}

void MediaPane::showDuration()
{
    m_positionSlider->setRange(0, clampedToInt(m_session->duration()));
    showSeekable();
    showTime(m_session->position());
}

void MediaPane::showSeekable()
{
    const bool canSeek = m_session->canSeek();
    for (QWidget *control : {static_cast<QWidget *>(m_positionSlider), static_cast<QWidget *>(m_backButton),
                             static_cast<QWidget *>(m_forwardButton)})
        control->setEnabled(canSeek);
}

// While it runs, what is left: shown as a time, said in words.
void MediaPane::showSleep()
{
    const SleepTimer *sleep = m_session->sleepTimer();
    const qint64 left = sleep->remainingMs();
    if (sleep->endsWithClip()) {
        m_sleepButton->setText(tr("睡眠：本段结束"));
        setName(m_sleepButton, tr("睡眠：本段结束"));
    } else {
        m_sleepButton->setText(left < 0 ? tr("睡眠定时") : tr("睡眠 %1").arg(TimeText::shown(left + 999)));
        setName(m_sleepButton, left < 0 ? tr("睡眠定时") : tr("睡眠定时：还剩 %1").arg(TimeText::spoken(left + 999)));
    }
    m_sleepMenu->findChild<QAction *>(QStringLiteral("cancelSleepAction"))->setVisible(sleep->isRunning());
}

void MediaPane::showPosition(qint64 position)
{
    if (!m_positionSlider->isSliderDown())
        m_positionSlider->setValue(clampedToInt(position));
    showTime(position);
}

void MediaPane::showTime(qint64 position)
{
    const qint64 duration = m_session->duration();
    m_timeLabel->setText(QStringLiteral("%1 / %2").arg(TimeText::shown(position), TimeText::shown(duration)));
    const QString spoken = tr("播放时间：已播放 %1，共 %2").arg(TimeText::spoken(position), TimeText::spoken(duration));
    if (spoken != m_timeLabel->accessibleName())
        m_timeLabel->setAccessibleName(spoken);
}

void MediaPane::showSaved()
{
    const SmartSpeed *smart = m_session->playback()->smartSpeed();
    m_skipButton->setToolTip(tr("跳过静音：缩短说话间的停顿\n已节省 %1（本音频），共 %2（自启动以来）")
                                 .arg(TimeText::saved(smart->savedInClipMs()), TimeText::saved(smart->savedMs())));
}

void MediaPane::showSwitches()
{
    m_skipButton->setChecked(m_session->skipsSilence());
    m_boostButton->setChecked(m_session->boostsVoice());
    m_continuousButton->setChecked(m_session->playsOn());
}

void MediaPane::showSpeed()
{
    m_speedBox->setCurrentIndex(m_session->speedIndex());
}

void MediaPane::showVolume()
{
    const Playback *playback = m_session->playback();
    const bool muted = playback->isMuted();
    m_muteButton->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    setName(m_muteButton, muted ? tr("取消静音") : tr("静音"));
    m_volumeSlider->setValue(playback->volume());
    m_volumeSlider->setToolTip(tr("音量：%1%").arg(playback->volume()));
}
