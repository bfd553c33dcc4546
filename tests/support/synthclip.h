#ifndef SYNTHCLIP_H
#define SYNTHCLIP_H

#include <QByteArray>

#include <random>
#include <vector>

// Clips made for the tests and benchmarks: tone bursts and pauses, over a
// floor of noise or hum, as WAV files. Levels are RMS, in dBFS.
class SynthClip
{
public:
    explicit SynthClip(int rate = 16000, int channels = 1);

    // What lies under everything from now on: noise, or a hum at hz.
    SynthClip &floor(double db, double hz = 0);
    // A burst of a tone, its ends softened over 5 ms; with an onset, it
    // begins that long at onsetDb.
    SynthClip &tone(double seconds, double db, double hz = 440, double onsetSeconds = 0, double onsetDb = 0);
    // Nothing but the floor.
    SynthClip &pause(double seconds);
    // A single sample at this peak, in the last burst's middle.
    SynthClip &spike(double peak);

    double seconds() const { return double(m_frames) / m_rate; }
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }
    QByteArray wav() const;

private:
    void add(std::size_t frames, double amplitude, double hz, double fadeSeconds);

    int m_rate;
    int m_channels;
    std::size_t m_frames = 0;
    std::vector<float> m_samples; // interleaved
    double m_floorAmplitude = 0;
    double m_floorHz = 0;
    double m_phase = 0;
    double m_floorPhase = 0;
    std::size_t m_lastBurst = 0; // its middle frame
    std::mt19937 m_random{1};
};

#endif // SYNTHCLIP_H
