#ifndef SLEEPTIMER_H
#define SLEEPTIMER_H

#include "playback.h"

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// The sleep timer. It counts the minutes chosen in real time while a clip
// plays, whatever the speed, and stands still while nothing plays; over its
// last ten seconds it fades the clip out, then pauses it (the position
// stays) and gives the volume back. A change of the volume while it fades
// means the listener is awake: the timer is cancelled. Set to the end of
// the clip instead, it is over when a clip ends, and the reading stops
// there.
class SleepTimer : public QObject
{
    Q_OBJECT

public:
    explicit SleepTimer(Playback *playback);

    void start(int minutes); // replaces a timer that runs
    void startToClipEnd();   // the same
    void cancel();
    bool isRunning() const { return m_leftMs >= 0 || m_toClipEnd; }
    // Set to the end of the clip.
    bool endsWithClip() const { return m_toClipEnd; }
    // Counting minutes: what is left; -1 otherwise.
    qint64 remainingMs() const;
    // The clip has ended: a timer set to its end is over.
    void clipEnded();

    // How long a minute and the fade last; tests shorten them.
    void setScale(qint64 minuteMs, qint64 fadeMs);

signals:
    void changed(); // started, cancelled, or a second less
    void expired(); // it paused the clip

private:
    void follow(Playback::State state);
    void update();
    void endFade();

    Playback *m_playback;
    QTimer *m_tick; // runs only while the timer counts
    QElapsedTimer m_since; // since it last went on counting
    qint64 m_leftMs = -1;  // then; -1 while no timer runs
    qint64 m_minuteMs = 60 * 1000;
    qint64 m_fadeMs = 10 * 1000;
    qint64 m_shownSeconds = -1;
    bool m_fading = false;
    bool m_toClipEnd = false;
};

#endif // SLEEPTIMER_H
