#ifndef MEDIAPANE_H
#define MEDIAPANE_H

#include "media/playback.h"

#include <QHash>
#include <QWidget>

class IdleInhibitor;
class QComboBox;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;
class SleepTimer;
class StatusLine;

// The player pane below the lists. Writing its "URL" property loads that
// address and starts playing it at once; everything else (pause, stop,
// seeking, volume, speed) is the pane's own business, through its controls,
// the keyboard and the desktop's media controls.
class MediaPane : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString URL READ url WRITE setUrl)

public:
    explicit MediaPane(QWidget *parent = nullptr);

    QString url() const;
    void setUrl(const QString &address);

    // What the pane's status line tells the user (loading, buffering, an
    // error, or a notice), in full, and the tooltip that goes with it.
    QString statusText() const;
    QString statusToolTip() const;

    // A line about something other than the clip, such as a page being
    // opened. A lasting notice stays until it is cleared or replaced; the
    // other kind also gives way to the next clip event.
    enum class Notice { Lasting, UntilClipEvent };
    void showNotice(const QString &text, const QString &toolTip, Notice kind);
    // Clears the notice if it is of this kind.
    void clearNotice(Notice kind);

    Playback *playback() const { return m_playback; }
    SleepTimer *sleepTimer() const { return m_sleep; }

    // The names of the clips the window lists, by address, and the title of
    // the article they belong to. A clip is shown by its name; one that is
    // not among them, by its address.
    void setClipNames(const QHash<QString, QString> &names, const QString &album);
    QString clipTitle() const { return m_title; }
    QString clipAlbum() const { return m_album; }

    // The desktop asks to open an article.
    void askToOpen(const QString &address);

    // The commands behind the controls.
    void play();
    void pause();
    void togglePlay();
    void stop();
    void seekTo(qint64 ms);
    // Back or on from where the clip is, in its own time.
    void skip(qint64 ms);
    bool canSeek() const;
    // Playback speed: one of the speeds offered, which stays for later clips.
    double speed() const;
    void setSpeed(double speed); // the nearest one offered
    static double minimumSpeed();
    static double maximumSpeed();
    // Counts the clips given to the pane, for telling them apart.
    int clipNumber() const { return m_clipNumber; }

signals:
    void clipChanged();
    void openRequested(const QStringList &addresses);
    void speedChanged(double speed);
    void seeked(qint64 ms);

private:
    void showState(Playback::State state);
    void showStatus(Playback::Status status);
    void showError(Playback::Error error, const QString &text, bool cutShort);
    void showDuration(qint64 duration);
    void showPosition(qint64 position);
    void showTime();
    void showVolume();
    void showSaved();
    void showSleep();
    void showSeekable();
    void applySpeed();
    void setClipStatus(const QString &text, const QString &toolTip = QString());
    void refreshStatus();

    Playback *m_playback;
    SleepTimer *m_sleep;
    IdleInhibitor *m_inhibitor;
    QToolButton *m_backButton;
    QToolButton *m_playButton;
    QToolButton *m_forwardButton;
    QToolButton *m_stopButton;
    QSlider *m_positionSlider;
    QLabel *m_timeLabel;
    StatusLine *m_statusLine;
    QToolButton *m_skipButton;  // smart speed: pauses shortened
    QToolButton *m_boostButton; // and the voice evened out
    QToolButton *m_sleepButton;
    QMenu *m_sleepMenu;
    QToolButton *m_muteButton;
    QSlider *m_volumeSlider;
    QComboBox *m_speedBox;
    QString m_url;
    QString m_title;
    QString m_album;
    QHash<QString, QString> m_names;
    QString m_namesAlbum;
    int m_clipNumber = 0;
    qint64 m_position = 0; // as shown
    bool m_failed = false;
    QString m_clipStatus;
    QString m_clipStatusTip;
    QString m_notice;
    QString m_noticeTip;
    Notice m_noticeKind = Notice::Lasting;
};

#endif // MEDIAPANE_H
