#ifndef SOUNDSERVER_H
#define SOUNDSERVER_H

#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>

#include <vector>

#include <gst/app/gstappsink.h>

// What a desktop has for sound: a PulseAudio server of the test's own, in a
// runtime folder of its own, with one sink that plays nothing ("brimwold")
// and a monitor that hears it. This process's sound goes to it while it
// runs; left without clients (the test gone), it ends by itself. It corks other streams while one of the phone's plays, as it does
// for a call.
class SoundServer
{
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    // False, with the reason in error(), if PulseAudio cannot run here.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // Records what the sink plays, as mono floats at 16 kHz, from now on.
    bool listen();
    std::vector<float> heard() const;

    // A call: a stream of the phone's role, until it hangs up.
    bool ring();
    void hangUp();

private:
    static GstFlowReturn newSample(GstAppSink *sink, gpointer self);

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_call;
    QString m_error;
    GstElement *m_monitor = nullptr;
    mutable QMutex m_mutex;
    std::vector<float> m_heard;
};

#endif // SOUNDSERVER_H
