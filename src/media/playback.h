#ifndef PLAYBACK_H
#define PLAYBACK_H

#include <QObject>
#include <QUrl>

class QMediaPlayer;
class QAudioOutput;
class QTimer;

// The player behind the pane: QMediaPlayer, whose interface differs between
// Qt 5 and Qt 6, seen through one interface. Volume is in percent.
class Playback : public QObject
{
    Q_OBJECT

public:
    enum class State { Stopped, Playing, Paused };
    enum class Status { NoMedia, Loading, Loaded, Buffering, Stalled, Buffered, EndOfMedia, Invalid, Unknown };
    enum class Error { None, Resource, Format, Network, AccessDenied, ServiceMissing, Other };
    Q_ENUM(State)
    Q_ENUM(Status)
    Q_ENUM(Error)

    explicit Playback(QObject *parent = nullptr);

    bool isAvailable() const;
    void setSource(const QUrl &url);
    QUrl source() const;

    void play();
    void pause();
    void stop();
    State state() const;
    Status status() const;

    qint64 position() const;
    void setPosition(qint64 ms);
    qint64 duration() const;
    bool isSeekable() const;

    int volume() const;
    void setVolume(int percent);
    bool isMuted() const;
    void setMuted(bool muted);
    double rate() const;
    void setRate(double rate);

signals:
    void sourceChanged(const QUrl &url);
    void stateChanged(Playback::State state);
    void statusChanged(Playback::Status status);
    void errorOccurred(Playback::Error error, const QString &text);
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void seekableChanged(bool seekable);
    void volumeChanged(int percent);
    void mutedChanged(bool muted);

private:
    // Where Qt 5 and Qt 6 differ.
    void connectPlayer();
    void setPlayerSource(const QUrl &url);
    State playerState() const;
    bool playerMuted() const;
    void setPlayerMuted(bool muted);

    void renewPlayer();
    void attachPlayer();
    void playerStateChanged();
    void playerMutedChanged(bool muted);
    void setSilent(bool silent);
    void endSilentPlay();
    void finishPause();

    QMediaPlayer *m_player;
    QAudioOutput *m_output = nullptr; // Qt 6 only
    // The player learns a clip's length only while it plays: a pause asked
    // for before then lets the clip play on silently until the length is
    // known (for a few seconds at most), then pauses where it was asked to.
    bool m_pauseWhenKnown = false;
    qint64 m_pausedAt = 0;
    QTimer *m_pauseDeadline; // one per pause, so an earlier clip's cannot end it
    bool m_silent = false;
    bool m_mutedBeforeSilence = false;
    State m_shownState = State::Stopped;
    // A rate set before the clip can seek is kept but not applied, and the
    // player may report it all the same: the wanted rate is applied afresh
    // once the clip can seek.
    double m_rate = 1.0;
    bool m_clipKnown = false; // length and seeking known for this clip
};

#endif // PLAYBACK_H
