#include "sampletime.h"
#include "smartprocessor.h"
#include "speechanalysis.h"

#include "sinkrecorder.h"
#include "speechchecks.h"
#include "synthclip.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

using SpeechChecks::kCeiling;
using SpeechChecks::keptMs;
using SpeechChecks::largestStep;
using SpeechChecks::wordsOf;

namespace {

// Samples of one format; a clip may go on in another.
struct Part
{
    int rate = 16000;
    int channels = 1;
    std::vector<float> samples;

    std::size_t frames() const { return samples.size() / std::size_t(channels); }
    double ms() const { return double(frames()) * 1000 / rate; }
};

using Clip = std::vector<Part>;

Clip clipOf(const SynthClip &made)
{
    return {{made.rate(), made.channels(), made.samples()}};
}

// A clip decoded as the player decodes it.
Clip decodedClip(const QByteArray &bytes)
{
    Part part;
    part.rate = 0;
    part.samples = Heard::decoded(bytes, &part.rate, &part.channels);
    return {part};
}

// Words over all of a clip's parts, in ms from its start.
QVector<QPair<double, double>> wordsIn(const Clip &clip, double over)
{
    QVector<QPair<double, double>> words;
    double offset = 0;
    for (const Part &part : clip) {
        for (const auto &word : wordsOf(part.samples, part.rate, part.channels, over))
            words.append({word.first + offset, word.second + offset});
        offset += part.ms();
    }
    return words;
}

double msOf(const Clip &clip)
{
    double ms = 0;
    for (const Part &part : clip)
        ms += part.ms();
    return ms;
}

// The largest step between samples in a stretch of a clip, in ms.
float largestStepIn(const Clip &clip, double fromMs, double toMs)
{
    double offset = 0;
    for (const Part &part : clip) {
        if (fromMs >= offset && toMs <= offset + part.ms())
            return largestStep(part.samples, part.rate, part.channels, (fromMs - offset) / 1000, (toMs - offset) / 1000);
        offset += part.ms();
    }
    return 0;
}

// A clip played through the processor as the player's element plays it:
// decoded spans with their timestamps in, and what comes out recorded,
// after an analysis that has heard all of it (as on a fast link) or only
// its start. No pipeline, no real time.
class Player
{
public:
    Player(const Clip &clip, double speed = 1.0)
        : m_clip(clip)
        , m_speed(speed)
        , m_state(std::make_shared<SpeechState>())
    {
        m_processor.setState(m_state);
    }

    SmartProcessor &processor() { return m_processor; }
    SpeechState &state() { return *m_state; }

    // The analysis hears the clip up to this time (all of it by default),
    // in spans of one MP3 frame as a decoder gives them.
    void analyse(double untilMs = std::numeric_limits<double>::infinity())
    {
        double offset = 0;
        for (const Part &part : m_clip) {
            const std::size_t end = std::min<double>(part.frames(), std::max(0.0, (untilMs - offset) * part.rate / 1000));
            for (std::size_t at = m_analysedFrames(part, offset); at < end; at += 576) {
                const std::size_t count = std::min<std::size_t>(576, end - at);
                m_state->addAudio(part.samples.data() + at * std::size_t(part.channels), count, part.rate, part.channels,
                                  qint64(offset * 1e6) + SampleTime::toNs(qint64(at), part.rate), at == 0 && offset > 0);
            }
            offset += part.ms();
        }
        m_analysedMs = std::min(untilMs, msOf(m_clip));
        if (m_analysedMs >= msOf(m_clip))
            m_state->finish();
    }

    // Plays from clip time `fromMs` (a seek, as the pipeline seeks: a
    // flush, then a new segment), or on from where it stopped (-1), until
    // `when` returns true before a span, or to the end.
    void play(double fromMs, const std::function<bool(double clipMs)> &when = {})
    {
        if (fromMs >= 0) {
            if (m_started) {
                m_processor.interrupt(true);
                m_processor.interrupt(false);
                m_processor.flushed();
                m_restarts.push_back(m_heard.empty() ? 0 : m_heard.back().frames());
            }
            m_newSegment = true;
            m_playedFrames = 0;
        } else {
            fromMs = m_at;
        }
        double offset = 0;
        for (std::size_t p = 0; p < m_clip.size(); ++p) {
            const Part &part = m_clip[p];
            if (fromMs >= offset + part.ms()) {
                offset += part.ms();
                continue;
            }
            if (!m_started || m_format != p) {
                m_processor.setFormat(part.rate, part.channels);
                m_format = p;
                m_started = true;
            }
            if (std::exchange(m_newSegment, false))
                m_processor.startSegment(true, m_speed);
            std::size_t at = std::size_t(std::max(0.0, fromMs - offset) * part.rate / 1000);
            fromMs = 0;
            for (; at < part.frames(); at += kSpan) {
                const double clipMs = offset + double(at) * 1000 / part.rate;
                if (when && when(clipMs)) {
                    m_at = clipMs;
                    return;
                }
                const std::size_t count = std::min(kSpan, part.frames() - at);
                const float *in = part.samples.data() + at * std::size_t(part.channels);
                const qint64 pts = qint64(offset * 1e6) + SampleTime::toNs(qint64(at), part.rate);
                record(part, m_processor.process(in, count, pts), in, count, pts);
            }
            offset += part.ms();
        }
        m_processor.endOfStream();
        m_at = msOf(m_clip);
    }

    // What was played since the last start, as the pipeline counts it.
    qint64 playedUs() const { return qint64(m_playedFrames) * 1000000 / m_clip[m_format].rate; }
    // Where the clip stands, as the player shows it: the clip's time at
    // what was played since the last start.
    double shownMs() const { return double(m_processor.clipUs(playedUs())) / 1000; }
    double inputMs() const { return m_at; }
    const Clip &heard() const { return m_heard; }
    // Where playback started again, in frames of what was heard last.
    const std::vector<std::size_t> &restarts() const { return m_restarts; }
    const std::vector<std::pair<qint64, std::size_t>> &timing() const { return m_timing; }
    qint64 savedMs() { return m_processor.takeSavedUs(std::numeric_limits<qint64>::max() / 2) / 1000; }
    // Spans of samples whose stated length is not theirs.
    int wrongDurations() const { return m_wrongDurations; }

private:
    static constexpr std::size_t kSpan = 1152; // frames a decoder gives at a time

    std::size_t m_analysedFrames(const Part &part, double offset) const
    {
        return std::size_t(std::clamp((m_analysedMs - offset) * part.rate / 1000, 0.0, double(part.frames())));
    }

    void record(const Part &format, const SmartProcessor::Output &out, const float *in, std::size_t frames, qint64 pts)
    {
        if (out.kind == SmartProcessor::Output::Kind::Nothing)
            return;
        if (m_heard.empty() || m_heard.back().rate != format.rate || m_heard.back().channels != format.channels)
            m_heard.push_back({format.rate, format.channels, {}});
        std::vector<float> &into = m_heard.back().samples;
        if (out.kind == SmartProcessor::Output::Kind::Input) {
            into.insert(into.end(), in, in + frames * std::size_t(format.channels));
            m_timing.push_back({out.ptsNs >= 0 ? out.ptsNs : pts, frames});
            m_playedFrames += frames;
        } else {
            into.insert(into.end(), out.samples.begin(), out.samples.end());
            const std::size_t count = out.samples.size() / std::size_t(format.channels);
            m_timing.push_back({out.ptsNs, count});
            if (std::abs(out.durationNs - SampleTime::toNs(qint64(count), format.rate)) > 1)
                ++m_wrongDurations;
            m_playedFrames += count;
        }
    }

    Clip m_clip;
    double m_speed;
    std::shared_ptr<SpeechState> m_state;
    SmartProcessor m_processor;
    double m_analysedMs = 0;
    bool m_started = false;
    bool m_newSegment = true;
    std::size_t m_format = 0;
    std::size_t m_playedFrames = 0;
    double m_at = 0;
    Clip m_heard;
    std::vector<std::size_t> m_restarts;
    std::vector<std::pair<qint64, std::size_t>> m_timing;
    int m_wrongDurations = 0;
};

// Four words of 0.4 s at 0, 1.4, 2.8 and 4.2 s.
SynthClip speech(double floorDb = -60, double floorHz = 0)
{
    SynthClip clip;
    clip.floor(floorDb, floorHz).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    return clip;
}

// A voice over a 40 Hz rumble, with a loud burst the gain would push over.
SynthClip voice(double db, int channels, double burst, double pause = 0.2, int words = 4)
{
    SynthClip clip(16000, channels);
    clip.floor(-50, 40);
    for (int i = 0; i < words; ++i)
        clip.tone(0.8, db).pause(pause);
    return clip.spike(burst);
}

// A quiet voice with a loud burst in every word.
SynthClip bursts()
{
    SynthClip clip(16000);
    clip.floor(-60);
    for (int i = 0; i < 28; ++i)
        clip.tone(0.25, -30).spike(0.5);
    return clip;
}

// The loudness rows' voices.
SynthClip voiceNamed(const QString &name)
{
    if (name == QLatin1String("quiet"))
        return voice(-29.3, 1, 0.5);
    if (name == QLatin1String("loud"))
        return voice(-7.3, 1, 0.98);
    if (name == QLatin1String("target"))
        return voice(-18.3, 1, 0.3);
    if (name == QLatin1String("very-quiet"))
        return voice(-44.3, 1, 0.1);
    if (name == QLatin1String("quiet-stereo"))
        return voice(-27.3, 2, 0.5);
    return voice(-7.3, 1, 0.98, 1.0); // loud, with long pauses
}

Clip clipNamed(const QString &name)
{
    if (name == QLatin1String("pauses")) {
        SynthClip clip;
        clip.floor(-60).tone(0.3, -12);
        for (const double pause : {0.1, 0.25, 0.4, 0.8, 2.0})
            clip.pause(pause).tone(0.3, -12);
        return clipOf(clip);
    }
    if (name == QLatin1String("onsets")) { // each word after a pause begins softly, for 40 ms
        SynthClip clip;
        clip.floor(-70).tone(0.3, -12).pause(1.0).tone(0.3, -12, 440, 0.04, -45).pause(1.0).tone(0.3, -12, 440, 0.04, -45);
        return clipOf(clip);
    }
    if (name == QLatin1String("faint")) { // so faintly that it counts as quiet
        SynthClip clip;
        clip.floor(-75, 50).tone(0.3, -12).pause(1.0).tone(0.3, -12, 440, 0.04, -73).pause(1.0).tone(0.3, -12, 440, 0.04, -73);
        return clipOf(clip);
    }
    if (name == QLatin1String("hiss"))
        return clipOf(speech(-45));
    if (name == QLatin1String("hum"))
        return clipOf(speech(-40, 50));
    if (name == QLatin1String("speech"))
        return clipOf(speech());
    if (name == QLatin1String("steady")) {
        SynthClip clip;
        clip.tone(4.0, -30);
        return clipOf(clip);
    }
    if (name == QLatin1String("ending")) {
        SynthClip clip;
        clip.floor(-60).tone(0.5, -12).pause(6.0);
        return clipOf(clip);
    }
    // Speech as it is often served: MPEG-2 layer III at low rates.
    if (name == QLatin1String("reading22k"))
        return decodedClip(SynthClip::reading(4, 22050).mp3());
    if (name == QLatin1String("reading11k"))
        return decodedClip(SynthClip::reading(4, 11025, -60, 2).mp3());
    if (name == QLatin1String("joined")) { // two MP3s joined, at two rates
        Clip clip = decodedClip(SynthClip::reading(1, 22050, -60, 3).mp3());
        clip.push_back(decodedClip(SynthClip::reading(1, 16000, -60, 4).mp3()).front());
        return clip;
    }
    if (name == QLatin1String("many")) {
        SynthClip clip(8000);
        clip.floor(-60);
        for (int i = 0; i < 2000; ++i)
            clip.tone(0.1, -12).pause(0.4);
        return clipOf(clip);
    }
    if (name == QLatin1String("bursts"))
        return clipOf(bursts());
    return {};
}

} // namespace

// Smart speed's processor on plain samples: synthetic clips of tone bursts
// and pauses, and readings decoded from MP3, analysed and then played
// through it span by span, with what comes out read directly.
class TestSmartProcessor : public QObject
{
    Q_OBJECT

private slots:
    void cuts_data();
    void cuts();
    void loudness_data();
    void loudness();
    void notNumbers_data();
    void notNumbers();
    void switches_data();
    void switches();
    void seeks_data();
    void seeks();
};

void TestSmartProcessor::cuts_data()
{
    // Pauses shortened: each word as long as made, each pause as long as
    // the README promises to keep, the time saved, the timestamps as the
    // samples.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<double>("speed");
    QTest::addColumn<double>("over"); // the level where a word starts
    QTest::newRow("pauses of 0.1 to 2 s: short ones stay, none grows") << "pauses" << 1.0 << 0.05;
    QTest::newRow("a soft onset arrives whole") << "onsets" << 1.0 << 0.004;
    QTest::newRow("a faint onset is kept by what stays before the next sound") << "faint" << 1.0 << 0.05;
    QTest::newRow("pauses are found under hiss") << "hiss" << 1.0 << 0.05;
    QTest::newRow("no click where a pause is cut") << "hum" << 1.0 << 0.05;
    QTest::newRow("a steady tone is not cut") << "steady" << 1.0 << 0.01;
    QTest::newRow("a clip that ends in silence ends sooner") << "ending" << 1.0 << 0.05;
    QTest::newRow("what is saved at 2x is over the speed") << "speech" << 2.0 << 0.05;
    QTest::newRow("a 4-minute MP3 at 22050 Hz") << "reading22k" << 1.0 << 0.05;
    QTest::newRow("a 4-minute MP3 at 11025 Hz") << "reading11k" << 1.0 << 0.05;
    QTest::newRow("MP3s at 22050 and 16000 Hz joined: the rate changes midway") << "joined" << 1.0 << 0.05;
    QTest::newRow("2,000 pauses at 8 kHz") << "many" << 1.0 << 0.05;
}

void TestSmartProcessor::cuts()
{
    QFETCH(QString, clip);
    QFETCH(double, speed);
    QFETCH(double, over);
    const Clip made = clipNamed(clip);
    QVERIFY(!made.empty() && !made.front().samples.empty());
    Player player(made, speed);
    player.processor().setSkipSilence(true);
    player.analyse();
    player.play(0);

    const Clip &heard = player.heard();
    QVERIFY(!heard.empty());
    const double madeMs = msOf(made);
    const double heardMs = msOf(heard);
    const QVector<QPair<double, double>> words = wordsIn(heard, over);
    const QVector<QPair<double, double>> madeSpans = wordsIn(made, over);
    QCOMPARE(words.size(), madeSpans.size());
    for (int i = 0; i < madeSpans.size(); ++i) {
        // Whole, to a frame: no cut reaches into a word, however long the clip.
        const double length = words[i].second - words[i].first;
        const double madeLength = madeSpans[i].second - madeSpans[i].first;
        QVERIFY2(qAbs(length - madeLength) <= 12,
                 qPrintable(QStringLiteral("word %1 of %2 ms heard for %3 ms").arg(i).arg(madeLength).arg(length)));
        const bool last = i + 1 == madeSpans.size();
        const double pause = (last ? madeMs : madeSpans[i + 1].first) - madeSpans[i].second;
        const double gap = (last ? heardMs : words[i + 1].first) - words[i].second;
        QVERIFY2(gap >= keptMs(pause) - 10 && gap <= keptMs(pause) + 40,
                 qPrintable(QStringLiteral("a pause of %1 ms after word %2 heard as %3 ms").arg(pause).arg(i).arg(gap)));
        // A cut joins two pauses without a step larger than their own.
        if (!last) {
            const float own = largestStepIn(made, madeSpans[i].second + 10, madeSpans[i + 1].first - 10);
            const float step = largestStepIn(heard, words[i].second + 10, words[i + 1].first - 10);
            QVERIFY2(step <= 2 * own + 0.001f, qPrintable(QStringLiteral("a step of %1 in a pause whose own are %2").arg(step).arg(own)));
        }
    }
    // What was cut, over the speed.
    const qint64 saved = qint64((madeMs - heardMs) / speed);
    QVERIFY2(qAbs(player.savedMs() - saved) <= (saved < 60000 ? 100 : 1000),
             qPrintable(QStringLiteral("%1 ms said, %2 ms cut").arg(player.savedMs()).arg(saved)));
    // What the sink is told is what it is given: one timeline of samples,
    // and the clip's time told back from it is the clip's own.
    if (heard.size() == 1) {
        const int rate = heard.front().rate;
        std::size_t frames = 0;
        for (const auto &[pts, count] : player.timing()) {
            const qint64 expected = SampleTime::toNs(qint64(frames), rate);
            QVERIFY2(qAbs(pts - expected) <= SampleTime::kNsPerSecond / rate,
                     qPrintable(QStringLiteral("a span at %1 ns after %2 samples").arg(pts).arg(frames)));
            frames += count;
        }
        QVERIFY2(qAbs(player.shownMs() - madeMs) <= 20, qPrintable(QStringLiteral("%1 ms of %2").arg(player.shownMs()).arg(madeMs)));
    }
}

void TestSmartProcessor::loudness_data()
{
    // Boosted: the loudness the README promises, every peak at or under
    // -1 dBFS and lowered rather than flattened, and the rumble under 80 Hz
    // not raised with the voice.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<bool>("boost");
    QTest::addColumn<double>("analysedMs"); // before it plays; -1: all
    QTest::addColumn<double>("lufs"); // of what is heard (the first 0.5 s on a slow link)
    QTest::newRow("a quiet voice is raised to -19 LUFS") << "quiet" << true << -1.0 << -19.0;
    QTest::newRow("a loud voice is turned down") << "loud" << true << -1.0 << -19.0;
    QTest::newRow("a voice at the target is left as it is") << "target" << true << -1.0 << -19.0;
    QTest::newRow("a very quiet voice gets 12 dB at most") << "very-quiet" << true << -1.0 << -33.0;
    QTest::newRow("a stereo voice is raised to -16 LUFS") << "quiet-stereo" << true << -1.0 << -16.0;
    QTest::newRow("on a slow link the first half second is at the level") << "quiet" << true << 1200.0 << -19.0;
    QTest::newRow("shortened pauses leave the level as it is") << "loud-pauses" << false << -1.0 << -7.3;
}

void TestSmartProcessor::loudness()
{
    QFETCH(QString, clip);
    QFETCH(bool, boost);
    QFETCH(double, analysedMs);
    QFETCH(double, lufs);
    const SynthClip voice = voiceNamed(clip);
    const Clip clipMade = clipOf(voice);
    const Part &made = clipMade.front();
    Player player(clipMade);
    if (boost)
        player.processor().setBoostVoice(true);
    else
        player.processor().setSkipSilence(true);
    const bool slow = analysedMs >= 0;
    if (slow) {
        // The analysis has the clip's first 1.2 s when it plays; the rest
        // comes after the first half second is played.
        player.analyse(analysedMs);
        player.play(0, [](double ms) { return ms >= 500; });
        player.analyse();
        player.play(-1);
    } else {
        player.analyse();
        player.play(0);
    }
    const std::vector<float> heard = player.heard().front().samples;
    const int rate = made.rate;
    const int channels = made.channels;
    QVERIFY(!heard.empty());

    const float madePeak = Heard::peak(made.samples, channels);
    const float peak = Heard::peak(heard, channels);
    if (!boost) {
        QVERIFY2(qAbs(peak - madePeak) < 0.01f, qPrintable(QString::number(peak)));
        QVERIFY2(msOf(player.heard()) < made.ms() - 1000, "no pause was cut");
        return;
    }
    const std::vector<float> measured = slow ? std::vector<float>(heard.begin(), heard.begin() + std::ptrdiff_t(rate / 2 * channels))
                                             : heard;
    const double heardLufs = Heard::loudness(measured, rate, channels);
    QVERIFY2(qAbs(heardLufs - lufs) <= 1, qPrintable(QStringLiteral("%1 LUFS").arg(heardLufs)));
    QVERIFY2(peak <= kCeiling + 1e-4f, qPrintable(QString::number(peak)));
    // A limiter lowers a loud burst; a clamp would flatten its crests.
    QVERIFY2(Heard::longestRunAt(heard, kCeiling - 1e-3f) < 3, qPrintable(QString::number(Heard::longestRunAt(heard, kCeiling - 1e-3f))));
    const SynthClip::Tone &last = voice.tones().back();
    const double middle = (last.start + last.end) / 2;
    const auto at = [&](double seconds) { return heard.begin() + std::ptrdiff_t(std::size_t(seconds * rate) * std::size_t(channels)); };
    const double crest = Heard::peak(std::vector<float>(at(middle), at(middle + 0.005)), channels)
        / std::pow(10.0, Heard::rmsDb(heard, rate, channels, middle, middle + 0.005) / 20);
    QVERIFY2(qAbs(crest - std::sqrt(2.0)) < 0.2, qPrintable(QStringLiteral("crest factor %1").arg(crest)));
    // ... and lets the word come back to its level after it, never lower.
    const double justAfter = Heard::rmsDb(heard, rate, channels, middle + 0.005, middle + 0.025);
    double lowest = justAfter;
    for (double t = middle + 0.025; t + 0.02 < last.end - 0.05; t += 0.02)
        lowest = std::min(lowest, Heard::rmsDb(heard, rate, channels, t, t + 0.02));
    const double before = Heard::rmsDb(heard, rate, channels, last.start + 0.05, middle - 0.05);
    const double after = Heard::rmsDb(heard, rate, channels, middle + 0.25, last.end - 0.05);
    QVERIFY2(slow || (lowest > std::min(justAfter, before) - 1 && qAbs(after - before) < 1),
             qPrintable(QStringLiteral("%1 dB before the burst, %2 dB just after, %3 dB at the least, %4 dB later")
                            .arg(before).arg(justAfter).arg(lowest).arg(after)));
    // The 40 Hz rumble in the pauses rises with the voice less the high-pass.
    const double gain = heardLufs - Heard::loudness(made.samples, rate, channels);
    const SynthClip::Tone &first = voice.tones().front();
    const double rumble = Heard::rmsDb(heard, rate, channels, first.end + 0.05, first.end + 0.15)
        - Heard::rmsDb(made.samples, rate, channels, first.end + 0.05, first.end + 0.15);
    QVERIFY2(rumble <= gain - 8, qPrintable(QStringLiteral("the rumble rose %1 dB, the voice %2 dB").arg(rumble).arg(gain)));
}

void TestSmartProcessor::notNumbers_data()
{
    // A decoder may hand on samples that are no number at all (a broken
    // frame). The speaker gets silence in their place, never a NaN, and the
    // level and the cuts stay as they would be.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("switches");
    QTest::newRow("both off") << "speech" << "";
    QTest::newRow("跳过静音 on") << "speech" << "skip";
    QTest::newRow("人声增强 on: still raised to -19 LUFS") << "quiet" << "boost";
}

void TestSmartProcessor::notNumbers()
{
    QFETCH(QString, clip);
    QFETCH(QString, switches);
    Clip made = clip == QLatin1String("quiet") ? clipOf(voiceNamed(clip)) : clipNamed(clip);
    Part &part = made.front();
    // 10 ms of each kind inside the second word.
    const std::size_t at = std::size_t(part.rate) * 3 / 2;
    const std::size_t span = std::size_t(part.rate) / 100;
    std::fill_n(part.samples.begin() + std::ptrdiff_t(at), span, std::numeric_limits<float>::quiet_NaN());
    std::fill_n(part.samples.begin() + std::ptrdiff_t(at + span), span, std::numeric_limits<float>::infinity());
    std::fill_n(part.samples.begin() + std::ptrdiff_t(at + 2 * span), span, -std::numeric_limits<float>::infinity());
    Player player(made);
    player.processor().setSkipSilence(switches == QLatin1String("skip"));
    player.processor().setBoostVoice(switches == QLatin1String("boost"));
    player.analyse();
    player.play(0);

    const std::vector<float> &heard = player.heard().front().samples;
    QVERIFY(std::all_of(heard.cbegin(), heard.cend(), [](float sample) { return std::isfinite(sample); }));
    QCOMPARE(player.wrongDurations(), 0);
    if (switches.isEmpty())
        QCOMPARE(heard.size(), part.samples.size());
    else if (switches == QLatin1String("skip"))
        QVERIFY2(msOf(player.heard()) < part.ms() - 1000, "no pause was cut");
    else
        QVERIFY2(qAbs(Heard::loudness(heard, part.rate, part.channels) + 19) <= 1,
                 qPrintable(QString::number(Heard::loudness(heard, part.rate, part.channels))));
}

void TestSmartProcessor::switches_data()
{
    // A switch turned while the clip plays, once it has reached a point, as
    // the player turns it: a flush, and a new segment from where the clip
    // stands. What is heard changes from there, and no peak is ever
    // flattened at the ceiling.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("check");
    QTest::newRow("跳过静音 switched on mid-word: the next pause is shortened") << "speech" << "skip at 1500" << "next pause 320";
    QTest::newRow("a boost switched on mid-tone ramps the level up") << "steady" << "boost at 1500" << "no jump";
    QTest::newRow("the boost switched on far into a clip, ahead of its analysis") << "bursts" << "boost at 5000 ahead" << "";
    QTest::newRow("a seek ahead of the analysis with the boost on") << "bursts" << "boost, seek 5000 at 300" << "";
}

void TestSmartProcessor::switches()
{
    QFETCH(QString, clip);
    QFETCH(QString, gesture);
    QFETCH(QString, check);
    const Clip made = clipNamed(clip);
    Player player(made);
    SmartProcessor &processor = player.processor();
    const bool ahead = gesture.contains(QLatin1String("ahead")) || gesture.contains(QLatin1String("seek"));
    if (gesture.startsWith(QLatin1String("boost, ")))
        processor.setBoostVoice(true);
    // Ahead of the analysis: it has heard the first second only.
    player.analyse(ahead ? 1000 : std::numeric_limits<double>::infinity());
    const bool seek = gesture.contains(QLatin1String("seek"));
    const double when = gesture.section(QLatin1Char(' '), seek ? -1 : 2, seek ? -1 : 2).toDouble();
    player.play(0, [&](double ms) { return ms >= when; });
    if (gesture.startsWith(QLatin1String("skip")))
        processor.setSkipSilence(true);
    if (gesture.startsWith(QLatin1String("boost at")))
        processor.setBoostVoice(true);
    const double from = seek ? gesture.section(QLatin1Char(' '), 2, 2).toDouble() : player.shownMs();
    player.play(from);
    QVERIFY(!player.restarts().empty());

    // What follows the switch.
    const Part &part = player.heard().front();
    const std::vector<float> heard(part.samples.begin() + std::ptrdiff_t(player.restarts().back()), part.samples.end());
    const int rate = part.rate;
    QVERIFY2(Heard::longestRunAt(heard, kCeiling - 1e-3f) < 3, "a peak was flattened at the ceiling");
    const std::vector<Heard::Burst> words = Heard::bursts(heard, rate, 1, 0.02);
    if (check.startsWith(QLatin1String("next pause "))) {
        // The pause after the word that was playing: as kept, not whole.
        QVERIFY(words.size() >= 2);
        const double gap = (words[1].start - words[0].end) * 1000;
        const double want = check.section(QLatin1Char(' '), 2, 2).toDouble();
        QVERIFY2(gap >= want - 10 && gap <= want + 30, qPrintable(QStringLiteral("%1 ms").arg(gap)));
    }
    if (check == QLatin1String("no jump")) {
        // A tone's own largest step grows with its level; a gain that jumps
        // steps further than the louder tone ever does. Where playback
        // starts again (the switch's flush), the wave may jump.
        const float peak = Heard::peak(heard);
        const double ownStep = 2 * peak * std::sin(M_PI * 440 / rate);
        const float largest = largestStep(heard, rate, 1, 0.01, double(heard.size()) / rate);
        QVERIFY2(peak > 2 * std::pow(10.0, -30.0 / 20), qPrintable(QString::number(peak)));
        QVERIFY2(largest < ownStep * 1.2, qPrintable(QStringLiteral("%1 against %2").arg(largest).arg(ownStep)));
        // To its very end: the limiter knows the last peaks.
        const double seconds = double(heard.size()) / rate;
        const double end = Heard::rmsDb(heard, rate, 1, seconds - 0.02, seconds);
        const double before = Heard::rmsDb(heard, rate, 1, seconds - 0.3, seconds - 0.1);
        QVERIFY2(qAbs(end - before) < 1, qPrintable(QStringLiteral("%1 dB at the end, %2 dB before").arg(end).arg(before)));
    }
}

void TestSmartProcessor::seeks_data()
{
    // The speech clip (words at 0, 1.4, 2.8 and 4.2 s) with 跳过静音 on, and
    // a seek or a switch once the clip stands at a point. Then what was
    // heard from the last restart on, in ms of the clip: silence, then
    // words and pauses ("*" for any); and the listening time saved.
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("heard");
    QTest::addColumn<int>("saved"); // ms, or -1
    // The processor has cut the first pause by the time of the seek, but
    // playback never passed it; it did skip the rest of the second's cut.
    QTest::newRow("a seek into a cut pause goes on at the next word") << "seek 2300 at 200" << "192 400 320 400" << 308 + 680;
    QTest::newRow("a seek back after pauses were cut") << "seek 1500 at 3400" << "0 300 320 400 320 400" << -1;
    QTest::newRow("跳过静音 off after pauses were cut: whole again") << "skip off at 3000" << "* * 1000 400" << 1360;
}

void TestSmartProcessor::seeks()
{
    QFETCH(QString, gesture);
    QFETCH(QString, heard);
    QFETCH(int, saved);
    Player player(clipNamed(QStringLiteral("speech")));
    player.processor().setSkipSilence(true);
    player.analyse();
    const double when = gesture.section(QLatin1Char(' '), -1).toDouble();
    player.play(0, [&](double) { return player.shownMs() >= when; });
    double to = player.shownMs();
    if (gesture.startsWith(QLatin1String("seek")))
        to = gesture.section(QLatin1Char(' '), 1, 1).toDouble();
    else
        player.processor().setSkipSilence(false);
    // Cuts passed before the seek count; those after it do when passed.
    const qint64 savedBefore = player.processor().takeSavedUs(player.playedUs()) / 1000;
    player.play(to);
    QVERIFY2(saved < 0 || qAbs(savedBefore + player.savedMs() - saved) <= 60,
             qPrintable(QStringLiteral("%1 ms saved, not %2").arg(savedBefore + player.savedMs()).arg(saved)));

    const Part &part = player.heard().front();
    const std::vector<float> after(part.samples.begin() + std::ptrdiff_t(player.restarts().back()), part.samples.end());
    // Where a seek starts it again with 跳过静音 on, it fades in: a word is
    // not cut into with a click.
    QVERIFY(!after.empty());
    QVERIFY2(!gesture.startsWith(QLatin1String("seek")) || std::abs(after.front()) < 0.02f, qPrintable(QString::number(after.front())));
    QStringList pieces;
    double end = 0;
    for (const Heard::Burst &burst : Heard::bursts(after, part.rate, 1)) {
        pieces << QString::number(qRound((burst.start - end) * 1000)) << QString::number(qRound((burst.end - burst.start) * 1000));
        end = burst.end;
    }
    const QStringList expected = heard.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(pieces.size() >= expected.size(), qPrintable(pieces.join(QLatin1Char(' '))));
    pieces = pieces.mid(pieces.size() - expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const double is = pieces.at(i).toDouble();
        const double want = expected.at(i).toDouble();
        const bool pause = (expected.size() - i) % 2 == 0;
        QVERIFY2(expected.at(i) == QLatin1String("*") || (is >= want - (pause ? 10 : 14) && is <= want + (pause ? 40 : 14)),
                 qPrintable(QStringLiteral("heard %1, not %2").arg(pieces.join(QLatin1Char(' ')), heard)));
    }
}

QTEST_GUILESS_MAIN(TestSmartProcessor)
#include "tst_smartprocessor.moc"
