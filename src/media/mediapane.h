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

    // What the pane currently tells the user (loading, buffering, an error).
    QString statusText() const;
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
};

#endif // MEDIAPANE_H
