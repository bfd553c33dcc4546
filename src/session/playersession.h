#ifndef PLAYERSESSION_H
#define PLAYERSESSION_H

#include "placememory.h"
#include "playback.h"

#include <QObject>
#include <QString>
#include <QVector>

class IdleInhibitor;
class QNetworkAccessManager;
class SleepTimer;

// The player as the listener knows it, apart from any widget: the clip
// (its address, name, number and album), the commands, the speed and the
// smart-speed switches that stay for every later clip, the sleep timer, and
// what the status line says and why. The window's pane shows it and
// forwards the listener's input; MPRIS reads it.
class PlayerSession : public QObject
{
    Q_OBJECT

public:
    // Clips are fetched through `network`, or through a manager of its own.
    explicit PlayerSession(QObject *parent = nullptr, QNetworkAccessManager *network = nullptr);
    ~PlayerSession() override;

    Playback *playback() const { return m_playback; }
    SleepTimer *sleepTimer() const { return m_sleep; }
    IdleInhibitor *idleInhibitor() const { return m_inhibitor; }

    // The clips the window lists, in order, and the title of the article
    // they belong to: a reading goes on through them, Next and Previous
    // move through them. A clip is shown by its name; one that is not
    // among them, by its address.
    struct Clip
    {
        QString address;
        QString name;
    };
    void setClipList(const QVector<Clip> &clips, const QString &album);
    // Loads the clip at `address` and starts playing it at once: where the
    // listener left it before, a little earlier, if they did.
    void open(const QString &address);
    QString url() const { return m_url; }
    QString title() const { return m_title; }
    QString album() const { return m_album; }
    // Counts the clips opened, for telling them apart.
    int clipNumber() const { return m_clipNumber; }

    // The desktop asks to open an article.
    void askToOpen(const QString &address);

    // Through the clip list: the next row, and back to the row before (in
    // a clip's first 3 s, as Rhythmbox and Media3 do) or to the start of
    // this clip.
    void next();
    void previous();
    bool canGoNext() const;
    bool canGoPrevious() const { return !m_url.isEmpty(); }
    static constexpr qint64 kPreviousWithinMs = 3000;

    // Where the listener left a clip, in its own time; -1 if nowhere kept.
    qint64 placeOf(const QString &address) const { return m_places.place(address); }

    // The commands. A clip that failed is fetched again by play().
    void play();
    void pause();
    void togglePlay();
    void stop();
    void seekTo(qint64 ms);
    // Back or on from where the clip is, in its own time.
    void skip(qint64 ms);
    static constexpr qint64 kBackMs = 15000;
    static constexpr qint64 kForwardMs = 30000;
    bool canSeek() const;
    qint64 position() const { return m_playback->position(); } // in the clip's own time
    qint64 duration() const { return m_playback->duration(); }

    // Playback speed: one of those offered, which stays for later clips.
    static const QVector<double> &speeds();
    int speedIndex() const { return m_speedIndex; }
    double speed() const { return speeds().at(m_speedIndex); }
    void setSpeedIndex(int index);
    void setSpeed(double speed); // the nearest one offered
    static double minimumSpeed() { return speeds().first(); }
    static double maximumSpeed() { return speeds().last(); }

    // Smart speed's switches, and continuous play (a clip's end plays the
    // next row of the list), all off at the start.
    bool skipsSilence() const { return m_skip; }
    bool boostsVoice() const { return m_boost; }
    bool playsOn() const { return m_continuous; }
    void setSkipSilence(bool on);
    void setBoostVoice(bool on);
    void setPlaysOn(bool on);

    // What the status line says about the clip, and why; a notice, or the
    // clip's name while it loads or plays, comes before it.
    enum class Report {
        None,        // nothing to say
        Unavailable, // a component every clip needs is missing
        Loading,
        Buffering,
        Ended,
        Failed,     // stays until the next clip, or play
        SleepPaused // until the listener plays again
    };
    Report report() const { return m_report; }
    QString statusText() const;
    QString statusToolTip() const;

    // A line about something other than the clip, such as a page being
    // opened. A lasting notice stays until it is cleared or replaced; the
    // other kind also gives way to the next clip event.
    enum class Notice { Lasting, UntilClipEvent };
    void showNotice(const QString &text, const QString &toolTip, Notice kind);
    // Clears the notice if it is of this kind.
    void clearNotice(Notice kind);

signals:
    void clipChanged();
    void clipListChanged();
    void placesChanged();
    void openRequested(const QStringList &addresses);
    void speedChanged(double speed);
    void switchesChanged();
    void seeked(qint64 ms);
    void statusChanged();

private:
    void followState(Playback::State state);
    void followStatus(Playback::Status status);
    void followError(Playback::Error error, const QString &text, bool cutShort);
    void applySpeed();
    int row() const; // of the clip in the list; -1 when it is not listed
    void leave();
    void ended();
    void setReport(Report report, const QString &text = QString(), const QString &toolTip = QString());
    void refreshStatus();

    Playback *m_playback;
    SleepTimer *m_sleep;
    IdleInhibitor *m_inhibitor;
    QString m_url;
    QString m_title;
    QString m_album;
    QVector<Clip> m_clips;
    QString m_clipsAlbum;
    PlaceMemory m_places;
    int m_clipNumber = 0;
    int m_speedIndex;
    bool m_skip = false;
    bool m_boost = false;
    bool m_continuous = false;
    Report m_report = Report::None;
    QString m_reportText; // Failed and Unavailable: the words, and the tooltip
    QString m_reportTip;
    QString m_notice;
    QString m_noticeTip;
    Notice m_noticeKind = Notice::Lasting;
    QString m_shown; // the status line as last announced
    QString m_shownTip;
};

#endif // PLAYERSESSION_H
