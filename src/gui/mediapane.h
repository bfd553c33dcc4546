#ifndef MEDIAPANE_H
#define MEDIAPANE_H

#include "playback.h"

#include <QWidget>

class PlayerSession;
class QComboBox;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;
class StatusLine;

// The player pane below the lists: it shows a player session and hands it
// the listener's input, from its controls, the keyboard and the media keys.
// Writing its "URL" property opens that address in the session, which
// starts playing it at once.
class MediaPane : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString URL READ url WRITE setUrl)

public:
    explicit MediaPane(QWidget *parent = nullptr);

    // What the pane shows and drives; set once, before the pane is used.
    void setSession(PlayerSession *session);
    PlayerSession *session() const { return m_session; }

    QString url() const;
    void setUrl(const QString &address);

    // The status line as shown, in full, and its tooltip.
    QString statusText() const;
    QString statusToolTip() const;

private:
    void buildControls();
    void buildSleepMenu();
    void layOut();
    void connectControls();
    void connectSession();

    void showState(Playback::State state);
    void showStatus();
    void showDuration();
    void showPosition(qint64 position);
    void showTime(qint64 position);
    void showVolume();
    void showSaved();
    void showSleep();
    void showSeekable();
    void showSwitches();
    void showSpeed();
    void seekFromSlider(qint64 ms);

    PlayerSession *m_session = nullptr;
    QToolButton *m_backButton;
    QToolButton *m_playButton;
    QToolButton *m_forwardButton;
    QToolButton *m_stopButton;
    QSlider *m_positionSlider;
    QLabel *m_timeLabel;
    StatusLine *m_statusLine;
    QToolButton *m_skipButton;  // smart speed: pauses shortened
    QToolButton *m_boostButton; // and the voice evened out
    QToolButton *m_continuousButton; // a clip's end plays the next
    QToolButton *m_sleepButton;
    QMenu *m_sleepMenu;
    QToolButton *m_muteButton;
    QSlider *m_volumeSlider;
    QLabel *m_speedLabel;
    QComboBox *m_speedBox;
};

#endif // MEDIAPANE_H
