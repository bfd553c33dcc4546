#ifndef PLAYBACK_H
#define PLAYBACK_H

#include "pagefetch.h"

#include <QVector>

#include <QObject>
#include <QUrl>

class ClipDownload;

// How a broken clip download asks again: the wait before each try after a
// break (the last again and again), and how many tries in a row may bring
// nothing before it gives up. Tests shorten the waits.
struct ClipDownloadRetries
{
    QVector<int> waitsMs{1000, 2000, 4000, 8000};
    int mostFruitless = 5;
};
class QNetworkAccessManager;
class SmartSpeed;
class QSocketNotifier;
class QTimer;

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// The player: a GStreamer playbin. Each clip is downloaded once into
// memory (ClipDownload) and kept there while it is current, so that seeking
// never asks the voice server again; it starts playing as soon as enough
// of it has arrived, and a download that breaks off plays to where it
// broke before it fails. scaletempo keeps the voice's pitch at
// every speed. Nothing here waits for the pipeline: its state is followed
// through the bus, whose messages arrive through Qt's event loop. Commands
// given before a clip has prerolled take effect once it has, with nothing
// heard first. Volume is in percent, on the cubic scale of desktop players.
class Playback : public QObject
{
    Q_OBJECT

public:
    enum class State { Stopped, Playing, Paused };
    enum class Status { NoMedia, Loading, Loaded, Buffering, Buffered, EndOfMedia, Invalid };
    enum class Error { Resource, Format, Network, AccessDenied, ServiceMissing, TooLarge, TimedOut, Changed, Other };
    Q_ENUM(State)
    Q_ENUM(Status)
    Q_ENUM(Error)

    // Clips are fetched through `network`, or through a manager of its own.
    explicit Playback(QObject *parent = nullptr, QNetworkAccessManager *network = nullptr);
    ~Playback() override;

    // What a clip error is called where the listener reads it.
    static QString reason(Error error);
    // Tells the sound server, for the whole process, that what plays is
    // music, as desktop players do: its policy then pauses the stream while
    // a call rings. To be called before anything of GStreamer starts.
    static void tagStreamsAsMusic();

    // Where the sound goes: a GStreamer description such as
    // "fakesink sync=true", which keeps time without a sound device; empty
    // for the desktop's own sink. The environment variable
    // BRIMWOLD_AUDIO_SINK gives the default. Takes effect from the next clip.
    void setAudioSink(const QString &description);
    // The sink of the current clip, or null before the first one.
    GstElement *audioSink() const;
    // The bounds of a clip fetch, and how a broken one asks again; from the
    // next clip on.
    void setFetchLimits(const FetchLimits &limits);
    void setRetries(const ClipDownloadRetries &retries);
    // The download broke off and asks again: its try, from 1; 0 while not.
    int reconnecting() const;

    // False when a GStreamer element that every clip needs is missing;
    // missingElement() names it.
    bool isAvailable() const { return m_missing.isEmpty(); }
    QString missingElement() const { return m_missing; }

    void setSource(const QUrl &url);
    QUrl source() const { return m_source; }

    void play();
    void pause();
    void stop();
    State state() const { return m_state; }
    Status status() const { return m_status; }

    qint64 position() const; // in the clip's own time
    void setPosition(qint64 ms);
    qint64 duration() const { return m_duration; }
    bool isSeekable() const { return m_seekable; }

    int volume() const { return m_volume; }
    void setVolume(int percent);
    // A fade of the volume, from 1 (none) to 0 (silence), apart from the
    // volume the listener set: it changes neither volume() nor the slider.
    void setFade(double level);
    double fade() const { return m_fade; }
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);
    double rate() const { return m_rate; }
    void setRate(double rate);
    // Shortened pauses and an even voice, for every clip.
    SmartSpeed *smartSpeed() const { return m_smart; }

signals:
    void sourceChanged(const QUrl &url);
    void stateChanged(Playback::State state);
    void statusChanged(Playback::Status status);
    // The clip cannot be played, or (cutShort) its download broke off and
    // what had arrived has now been played.
    void errorOccurred(Playback::Error error, const QString &text, bool cutShort);
    void positionChanged(qint64 ms);
    void durationChanged(qint64 ms);
    void seekableChanged(bool seekable);
    void volumeChanged(int percent);
    void mutedChanged(bool muted);
    void reconnectingChanged();

private:
    // Where the current clip's pipeline is.
    enum class Phase {
        Idle,    // not started, stopped or ended: the clip stays in memory
        Loading, // prerolling
        Ready,   // prerolled: commands take effect at once
        Seeking, // prerolling again after a seek
        Failed,  // the clip cannot be played; nothing of it is kept
    };

    void startClip();
    void discardClip();
    void rest(Phase phase);
    void downloadEnded();
    void startPipeline();
    void stopPipeline(bool fully = false);
    bool applyAudioSink();
    static void sourceSetup(GstElement *playbin, GstElement *source, Playback *self);

    void readBus();
    void handle(GstMessage *message);
    bool isStale(GstMessage *message) const;
    void noteMissingPlugin(GstMessage *message);
    void reportError(GstMessage *message);
    void prerolled();
    void ended();
    void fail(Error error, const QString &text, bool cutShort = false);
    void seek(qint64 ms);
    void readDuration();
    void readSeekable();
    void setSeekable(bool seekable);
    qint64 estimatedDuration() const;
    bool hasRealSink() const;
    qint64 playedMs() const;
    void tick();

    void setPhase(Phase phase);
    void updateTicker();
    void setState(State state);
    void setStatus(Status status);
    void setPositionShown(qint64 ms);
    void applyVolume();

    GstElement *m_pipeline = nullptr;
    QString m_missing;
    QString m_sinkDescription;
    bool m_sinkChanged = true;
    QSocketNotifier *m_busWatch = nullptr;
    QTimer *m_ticker;
    QNetworkAccessManager *m_network;
    SmartSpeed *m_smart;
    FetchLimits m_limits;
    ClipDownloadRetries m_retries;
    ClipDownload *m_clip = nullptr;
    GstElement *m_appsrc = nullptr; // the current reader's, compared only
    QString m_missingPlugin;        // what the pipeline last said it lacks
    bool m_missingNotSound = false;

    QUrl m_source;
    Phase m_phase = Phase::Idle;
    State m_state = State::Stopped;
    Status m_status = Status::NoMedia;
    qint64 m_duration = 0;
    bool m_seekable = false;
    qint64 m_position = 0;     // as shown; the target while a seek waits
    qint64 m_nextSeek = -1;    // to be issued once the pipeline can take it
    quint32 m_seekSeqnum = 0;  // of the last seek issued; 0 for none yet
    bool m_pausedBySink = false; // the sound server asked for a pause
    double m_rate = 1.0;
    int m_volume = 100;
    double m_fade = 1.0;
    bool m_muted = false;
};

#endif // PLAYBACK_H
