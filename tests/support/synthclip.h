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
    // 5 ms of the last burst's tone, in its middle, at this peak.
    SynthClip &spike(double peak);
    // A reading: words of 0.3 to 1.2 s at -16 to -12 dB and pauses of 0.35
    // to 1.6 s, over noise at floorDb.
    static SynthClip reading(double minutes, int rate, double floorDb = -60, unsigned seed = 1);

    // Where each burst is, in seconds: from its onset, from its full
    // level, to its end; and the onset's peak.
    struct Tone
    {
        double onset;
        double start;
        double end;
        double onsetPeak;
    };
    const std::vector<Tone> &tones() const { return m_tones; }
    const std::vector<float> &samples() const { return m_samples; }
    double seconds() const { return double(m_frames) / m_rate; }
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }
    QByteArray wav() const;
    // As an MP3 (MPEG-2 layer III at 22050 Hz and below), by GStreamer's
    // LAME encoder; empty if there is none.
    QByteArray mp3(int kbps = 32) const;

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
    std::vector<Tone> m_tones;
    std::mt19937 m_random{1};
};

#endif // SYNTHCLIP_H
