#ifndef SINKRECORDER_H
#define SINKRECORDER_H

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <vector>

#include <gst/gst.h>

class Playback;

// Calls `handoff` (GstElement *, GstBuffer *, GstPad *, gpointer data) for
// every buffer that the fakesink named "probe" in the player's sink plays.
bool connectProbe(Playback *playback, void (*handoff)(GstElement *, GstBuffer *, GstPad *, void *), void *data);

// All that reaches a player's sound, as floats: a fakesink named "probe"
// that keeps time (or goes as fast as it can), behind a conversion.
class SinkRecorder
{
public:
    // Converted to floats, and to this rate and one channel if one is given.
    static QString sink(bool keepTime = true, int rate = 0);

    // Once for each sink; attaching to the same sink again changes nothing.
    bool attach(Playback *playback);
    void clear();

    std::vector<float> samples() const;
    std::size_t frames() const;
    int rate() const;
    int channels() const;
    int buffers() const;
    // Where playback started again after a flush, in frames recorded.
    std::vector<std::size_t> restarts() const;
    // The timestamps of every buffer, and its frames: what a sink is told
    // against what it is given.
    std::vector<std::pair<qint64, std::size_t>> timing() const;

private:
    static void handoff(GstElement *, GstBuffer *buffer, GstPad *pad, void *self);
    static GstPadProbeReturn flushed(GstPad *, GstPadProbeInfo *info, void *self);

    mutable QMutex m_mutex;
    std::vector<float> m_samples;
    std::vector<std::size_t> m_restarts;
    std::vector<std::pair<qint64, std::size_t>> m_timing;
    int m_rate = 0;
    int m_channels = 0;
    int m_buffers = 0;
    GstElement *m_probe = nullptr; // attached to, compared only
};

// What the tests and benchmarks read off recorded sound, from the first
// channel. Times are in seconds of what was recorded.
namespace Heard {

struct Burst
{
    double start;
    double end;
};
// Stretches louder than `over`, gaps under 30 ms closed.
std::vector<Burst> bursts(const std::vector<float> &samples, int rate, int channels, double over = 0.05);
double rmsDb(const std::vector<float> &samples, int rate, int channels, double from, double to);
float peak(const std::vector<float> &samples, int channels = 1, std::size_t fromFrame = 0);
// EBU R128 integrated loudness, LUFS.
double loudness(const std::vector<float> &samples, int rate, int channels);
// Of a tone: its zero crossings in the loud parts, a second of sound.
double frequency(const std::vector<float> &samples, int rate, int channels);
// The longest run of samples at or above this magnitude.
int longestRunAt(const std::vector<float> &samples, float level);
// A clip decoded as a player decodes it, mixed to mono and resampled to
// `rate` if one is given; empty if it cannot be.
std::vector<float> decoded(const QByteArray &clip, int *rate, int *channels);
// Bytes through a pipeline from the appsrc named "in" to the appsink named
// "out", and the caps of what came out last.
QByteArray through(const QString &description, const QByteArray &input, QString *caps = nullptr);

} // namespace Heard

#endif // SINKRECORDER_H
