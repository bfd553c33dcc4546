#include "synthclip.h"

#include <QtEndian>

#include "sinkrecorder.h"

#include <cmath>

namespace {

double amplitudeOf(double rmsDb, bool sine)
{
    const double rms = std::pow(10.0, rmsDb / 20);
    return sine ? rms * std::sqrt(2.0) : rms * std::sqrt(3.0); // uniform noise
}

} // namespace

SynthClip::SynthClip(int rate, int channels)
    : m_rate(rate)
    , m_channels(channels)
{
}

SynthClip &SynthClip::floor(double db, double hz)
{
    m_floorAmplitude = amplitudeOf(db, hz > 0);
    m_floorHz = hz;
    return *this;
}

SynthClip &SynthClip::tone(double seconds, double db, double hz, double onsetSeconds, double onsetDb)
{
    const double onset = this->seconds();
    if (onsetSeconds > 0)
        add(std::size_t(onsetSeconds * m_rate), amplitudeOf(onsetDb, true), hz, 0.005);
    const double start = this->seconds();
    add(std::size_t(seconds * m_rate), amplitudeOf(db, true), hz, 0.005);
    m_tones.push_back({onset, start, this->seconds(), onsetSeconds > 0 ? amplitudeOf(onsetDb, true) : 0.0});
    return *this;
}

SynthClip &SynthClip::pause(double seconds)
{
    add(std::size_t(seconds * m_rate), 0, 0, 0);
    return *this;
}

SynthClip &SynthClip::spike(double peak)
{
    const Tone &last = m_tones.back();
    const auto from = std::size_t((last.start + last.end) / 2 * m_rate);
    for (std::size_t i = from; i < from + std::size_t(m_rate / 200); ++i) {
        for (int c = 0; c < m_channels; ++c)
            m_samples[i * std::size_t(m_channels) + std::size_t(c)] = float(peak * std::sin(2 * M_PI * 440 * double(i) / m_rate));
    }
    return *this;
}

SynthClip SynthClip::reading(double minutes, int rate, double floorDb, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> word(0.3, 1.2);
    std::uniform_real_distribution<double> pause(0.35, 1.6);
    std::uniform_real_distribution<double> level(-16, -12);
    SynthClip clip(rate);
    clip.floor(floorDb);
    while (clip.seconds() < minutes * 60)
        clip.tone(word(random), level(random), 180 + 10 * level(random) / -4).pause(pause(random));
    return clip;
}

void SynthClip::add(std::size_t frames, double amplitude, double hz, double fadeSeconds)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const std::size_t fade = std::size_t(fadeSeconds * m_rate);
    for (std::size_t i = 0; i < frames; ++i) {
        double envelope = 1;
        if (fade > 0 && i < fade)
            envelope = double(i) / fade;
        else if (fade > 0 && frames - i <= fade)
            envelope = double(frames - i) / fade;
        m_phase += 2 * M_PI * hz / m_rate;
        m_floorPhase += 2 * M_PI * m_floorHz / m_rate;
        double sample = amplitude * envelope * std::sin(m_phase);
        sample += m_floorHz > 0 ? m_floorAmplitude * std::sin(m_floorPhase) : m_floorAmplitude * noise(m_random);
        for (int c = 0; c < m_channels; ++c)
            m_samples.push_back(float(sample));
    }
    m_frames += frames;
}

QByteArray SynthClip::wav() const
{
    QByteArray data(int(m_samples.size() * 2), Qt::Uninitialized);
    for (std::size_t i = 0; i < m_samples.size(); ++i)
        qToLittleEndian(qint16(std::lround(std::clamp(m_samples[i], -1.0f, 1.0f) * 32767)), data.data() + 2 * i);
    QByteArray head("RIFF");
    const auto u32 = [&head](quint32 value) { head.append(reinterpret_cast<const char *>(&value), 4); };
    const auto u16 = [&head](quint16 value) { head.append(reinterpret_cast<const char *>(&value), 2); };
    u32(quint32(36 + data.size()));
    head.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(quint16(m_channels));
    u32(quint32(m_rate));
    u32(quint32(m_rate * m_channels * 2));
    u16(quint16(m_channels * 2));
    u16(16);
    head.append("data");
    u32(quint32(data.size()));
    return head + data;
}

QByteArray SynthClip::mp3(int kbps) const
{
    const QString description = QStringLiteral("appsrc name=in format=time caps=audio/x-raw,format=F32LE,layout=interleaved,"
                                               "rate=%1,channels=%2 ! audioconvert ! lamemp3enc target=bitrate cbr=true "
                                               "bitrate=%3 ! appsink name=out")
                                    .arg(m_rate)
                                    .arg(m_channels)
                                    .arg(kbps);
    return Heard::through(description, QByteArray::fromRawData(reinterpret_cast<const char *>(m_samples.data()),
                                                               int(m_samples.size() * sizeof(float))));
}
