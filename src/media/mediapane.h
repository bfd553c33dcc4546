#ifndef MEDIAPANE_H
#define MEDIAPANE_H

#include <QMediaPlayer>
#include <QWidget>

class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

// The player pane below the lists. Writing its "URL" property loads that
// address and starts playing it at once; everything else (pause, stop,
// seeking, volume, speed) is the pane's own business, through its controls.
class MediaPane : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString URL READ url WRITE setUrl)

public:
    explicit MediaPane(QWidget *parent = nullptr);

    QString url() const;
    void setUrl(const QString &address);

    // What the pane currently tells the user (loading, buffering, an error,
    // or a notice) and the tooltip that goes with it.
    QString statusText() const;
    QString statusToolTip() const;

    // A line about something other than the clip, such as a page being
    // opened. A lasting notice stays until it is cleared or replaced; the
    // other kind also gives way to the next clip event.
    enum class Notice { Lasting, UntilClipEvent };
    void showNotice(const QString &text, const QString &toolTip, Notice kind);
    // Clears the notice if it is of this kind.
    void clearNotice(Notice kind);
    QMediaPlayer *player() const { return m_player; }

private:
    void togglePlay();
    void updatePlayButton(QMediaPlayer::State state);
    void updateStatus(QMediaPlayer::MediaStatus status);
    void showError(QMediaPlayer::Error error);
    void updateDuration(qint64 duration);
    void updatePosition(qint64 position);
    void updateTimeLabel();
    void updateMuteButton(bool muted);
    void setSpeed(int index);
    void setClipStatus(const QString &text, const QString &toolTip = QString());
    void refreshStatus();

    QMediaPlayer *m_player;
    QToolButton *m_playButton;
    QToolButton *m_stopButton;
    QSlider *m_positionSlider;
    QLabel *m_timeLabel;
    QLabel *m_statusLabel;
    QToolButton *m_muteButton;
    QSlider *m_volumeSlider;
    QComboBox *m_speedBox;
    QString m_url;
    bool m_failed = false;
    QString m_clipStatus;
    QString m_clipStatusTip;
    QString m_notice;
    QString m_noticeTip;
    Notice m_noticeKind = Notice::Lasting;
};

#endif // MEDIAPANE_H
