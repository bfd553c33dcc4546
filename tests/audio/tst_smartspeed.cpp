#include "clipdownload.h"
#include "playback.h"
#include "smartspeed.h"
#include "speechanalysis.h"

#include "logcapture.h"
#include "sinkrecorder.h"
#include "synthclip.h"
#include "testserver.h"

#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QtTest>

#include <gst/gst.h>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// What the README promises stays of a pause: all of one under 300 ms; of a
// longer one about 150 ms and a fifth of the rest, at most 600 ms.
double keptMs(double pauseMs)
{
    return pauseMs < 300 ? pauseMs : std::min(600.0, 150 + (pauseMs - 150) / 5);
}

const float kCeiling = float(std::pow(10.0, -1.0 / 20)); // -1 dBFS

// Where the words of a clip are, in ms, as a decoder gives it: a word
// starts where it is louder than `over`.
QVector<QPair<double, double>> wordsOf(const std::vector<float> &samples, int rate, int channels, double over)
{
    QVector<QPair<double, double>> words;
    for (const Heard::Burst &burst : Heard::bursts(samples, rate, channels, over))
        words.append({burst.start * 1000, burst.end * 1000});
    return words;
}

// The largest step between samples of the first channel, from..to seconds.
float largestStep(const std::vector<float> &samples, int rate, int channels, double from, double to)
{
    float largest = 0;
    const auto c = std::size_t(channels);
    for (auto n = std::size_t(std::max(0.0, from) * rate) + 1; n < std::size_t(to * rate) && n * c < samples.size(); ++n)
        largest = std::max(largest, std::fabs(samples[n * c] - samples[(n - 1) * c]));
    return largest;
}

} // namespace

// Smart speed through the real pipeline: synthetic clips of tone bursts and
// pauses, played with pauses shortened or the voice boosted, into a sink
// that records what would be heard.
class TestSmartSpeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pauses_data();
    void pauses();
    void clipTime_data();
    void clipTime();
    void loudness_data();
    void loudness();
    void switchesMidClip_data();
    void switchesMidClip();
    void analysis_data();
    void analysis();
    void waitsGiveWay_data();
    void waitsGiveWay();

private:
    void add(const QString &name, const SynthClip &clip, bool mp3 = false);
    QString address(const QString &clip) const { return m_server.baseUrl() + QStringLiteral("/smart/") + clip; }
    // Plays the clip to its end, calling `during` with every position the
    // player shows. Kept time, or as fast as it goes once analysed.
    bool play(Playback &playback, SinkRecorder &recorder, const QString &clip, bool keepTime,
              const std::function<void(qint64)> &during = {});

    TestServer m_server{TestServer::Scheme::Http};
    QHash<QString, SynthClip> m_clips;
    QHash<QString, QByteArray> m_served;
};

void TestSmartSpeed::add(const QString &name, const SynthClip &clip, bool mp3)
{
    m_clips.insert(name, clip);
    m_served.insert(name, mp3 ? clip.mp3() : clip.wav());
    m_server.setResponse(QStringLiteral("/smart/") + name, TestServer::ok(m_served[name], mp3 ? "audio/mpeg" : "audio/wav"));
}

void TestSmartSpeed::initTestCase()
{
    QVERIFY(m_server.startInThread());
    SynthClip pauses;
    pauses.floor(-60).tone(0.3, -12);
    for (const double pause : {0.1, 0.25, 0.4, 0.8, 2.0})
        pauses.pause(pause).tone(0.3, -12);
    add(QStringLiteral("pauses"), pauses);
    // Each word after a pause begins softly, for 40 ms.
    SynthClip onsets;
    onsets.floor(-70).tone(0.3, -12).pause(1.0).tone(0.3, -12, 440, 0.04, -45).pause(1.0).tone(0.3, -12, 440, 0.04, -45);
    add(QStringLiteral("onsets"), onsets);
    // Each word after a pause begins so faintly that it counts as quiet:
    // only what is kept before the next sound saves it.
    SynthClip faint;
    faint.floor(-75, 50).tone(0.3, -12).pause(1.0).tone(0.3, -12, 440, 0.04, -73).pause(1.0).tone(0.3, -12, 440, 0.04, -73);
    add(QStringLiteral("faint"), faint);
    const auto fourWords = [](double floorDb, double floorHz, double word) {
        SynthClip clip;
        clip.floor(floorDb, floorHz).tone(word, -12).pause(1.0).tone(word, -12).pause(1.0).tone(word, -12).pause(1.0).tone(word, -12);
        return clip;
    };
    add(QStringLiteral("hiss"), fourWords(-45, 0, 0.4));
    add(QStringLiteral("hum"), fourWords(-40, 50, 0.4));
    add(QStringLiteral("speech"), fourWords(-60, 0, 0.4)); // words at 0, 1.4, 2.8 and 4.2 s
    SynthClip steady;
    steady.tone(4.0, -30);
    add(QStringLiteral("steady"), steady);
    SynthClip ending;
    ending.floor(-60).tone(0.5, -12).pause(6.0);
    add(QStringLiteral("ending"), ending);
    // Speech as it is often served: MPEG-2 layer III at low rates.
    add(QStringLiteral("reading22k"), SynthClip::reading(4, 22050), true);
    add(QStringLiteral("reading11k"), SynthClip::reading(4, 11025, -60, 2), true);
    SynthClip many(8000);
    many.floor(-60);
    for (int i = 0; i < 2000; ++i)
        many.tone(0.1, -12).pause(0.4);
    add(QStringLiteral("many"), many);
    // Two MP3s joined, at two rates.
    m_served.insert(QStringLiteral("joined"), SynthClip::reading(1, 22050, -60, 3).mp3() + SynthClip::reading(1, 16000, -60, 4).mp3());
    m_server.setResponse(QStringLiteral("/smart/joined"), TestServer::ok(m_served[QStringLiteral("joined")], "audio/mpeg"));

    // Voices at various loudness over a 40 Hz rumble, each with a loud burst
    // the gain would push over: a sine's loudness is about its level.
    const auto voice = [](double db, int channels, double burst, double pause = 0.2, int words = 4) {
        SynthClip clip(16000, channels);
        clip.floor(-50, 40);
        for (int i = 0; i < words; ++i)
            clip.tone(0.8, db).pause(pause);
        return clip.spike(burst);
    };
    add(QStringLiteral("quiet"), voice(-29.3, 1, 0.5));
    add(QStringLiteral("loud"), voice(-7.3, 1, 0.98));
    add(QStringLiteral("target"), voice(-18.3, 1, 0.3));
    add(QStringLiteral("very-quiet"), voice(-44.3, 1, 0.1));
    add(QStringLiteral("quiet-stereo"), voice(-27.3, 2, 0.5));
    add(QStringLiteral("loud-pauses"), voice(-7.3, 1, 0.98, 1.0));
    // A quiet voice with a loud burst in every word.
    SynthClip bursts(16000);
    bursts.floor(-60);
    for (int i = 0; i < 28; ++i)
        bursts.tone(0.25, -30).spike(0.5);
    add(QStringLiteral("bursts"), bursts);
    // The first 1.2 s at once, then nothing for 3 s.
    TestServer::Response slow = TestServer::ok(m_clips[QStringLiteral("quiet")].wav(), "audio/wav");
    slow.pauseAfter = 44 + 2 * 19200;
    slow.pauseMs = 3000;
    m_server.setResponse(QStringLiteral("/smart/quiet-slow"), slow);
    m_clips.insert(QStringLiteral("quiet-slow"), m_clips[QStringLiteral("quiet")]);
    // 0.2 s, then nothing for 5 s.
    TestServer::Response stalled = slow;
    stalled.pauseAfter = 44 + 2 * 3200;
    stalled.pauseMs = 5000;
    m_server.setResponse(QStringLiteral("/smart/quiet-stalled"), stalled);
    TestServer::Response stalling = TestServer::ok(bursts.wav(), "audio/wav");
    stalling.pauseAfter = 44 + 2 * 16000;
    stalling.pauseMs = 2000;
    m_server.setResponse(QStringLiteral("/smart/bursts-slow"), stalling);
    m_clips.insert(QStringLiteral("bursts-slow"), bursts);
    // A clip that begins as one and goes on as nothing: no decoder takes it.
    m_server.setResponse(QStringLiteral("/smart/garbage"),
                         TestServer::ok(QByteArray("ID3\x03\0\0\0\0\0\x0a", 10) + QByteArray(10, '\0') + QByteArray(30000, 'Z'),
                                        "audio/mpeg"));
}

bool TestSmartSpeed::play(Playback &playback, SinkRecorder &recorder, const QString &clip, bool keepTime,
                          const std::function<void(qint64)> &during)
{
    QMetaObject::Connection watch;
    if (during)
        watch = connect(&playback, &Playback::positionChanged, this, during);
    playback.setSource(QUrl(address(clip)));
    playback.play();
    if (!recorder.attach(&playback))
        return false;
    if (!keepTime) { // the analysis runs ahead of what plays: as fast, it waits
        playback.pause();
        if (!QTest::qWaitFor([&] { return playback.smartSpeed()->isAnalysed(); }, 60000))
            return false;
        playback.play();
    }
    const double seconds = (m_clips.contains(clip) ? m_clips[clip].seconds() : 300) / playback.rate();
    const bool ended = QTest::qWaitFor([&] { return playback.status() == Playback::Status::EndOfMedia; },
                                       int(seconds * 1000) + 30000);
    disconnect(watch);
    return ended;
}

void TestSmartSpeed::pauses_data()
{
    // Played with 跳过静音 on; what is heard of the last clip: each word as
    // long as made, each pause as long as the README promises to keep, the
    // time saved in the tooltip, the timestamps as the samples.
    QTest::addColumn<QStringList>("clips");
    QTest::addColumn<double>("speed");
    QTest::addColumn<bool>("keepTime"); // false: as fast as it goes, once analysed
    QTest::addColumn<double>("over");   // the level where a word starts
    QTest::addColumn<int>("rate");      // the sink's, or 0 for the clip's
    QTest::newRow("pauses of 0.1 to 2 s: short ones stay, none grows") << QStringList{"pauses"} << 1.0 << true << 0.05 << 0;
    QTest::newRow("a soft onset arrives whole") << QStringList{"onsets"} << 1.0 << true << 0.004 << 0;
    QTest::newRow("a faint onset is kept by what stays before the next sound")
        << QStringList{"faint"} << 1.0 << true << 0.05 << 0;
    QTest::newRow("pauses are found under hiss") << QStringList{"hiss"} << 1.0 << true << 0.05 << 0;
    QTest::newRow("no click where a pause is cut") << QStringList{"hum"} << 1.0 << true << 0.05 << 0;
    QTest::newRow("a steady tone is not cut") << QStringList{"steady"} << 1.0 << true << 0.01 << 0;
    QTest::newRow("a clip that ends in silence ends sooner") << QStringList{"ending"} << 1.0 << true << 0.05 << 0;
    QTest::newRow("what is saved at 2x is over the speed") << QStringList{"speech"} << 2.0 << true << 0.05 << 0;
    QTest::newRow("a 4-minute MP3 at 22050 Hz") << QStringList{"reading22k"} << 1.0 << false << 0.05 << 0;
    QTest::newRow("a 4-minute MP3 at 11025 Hz") << QStringList{"reading11k"} << 1.0 << false << 0.05 << 0;
    QTest::newRow("MP3s at 22050 and 16000 Hz joined") << QStringList{"joined"} << 1.0 << false << 0.05 << 22050;
    QTest::newRow("2,000 pauses at 8 kHz") << QStringList{"many"} << 1.0 << false << 0.05 << 0;
    QTest::newRow("the switch stays for the next clip, the total adds up") << QStringList{"hiss", "speech"} << 1.0 << true
                                                                           << 0.05 << 0;
}

void TestSmartSpeed::pauses()
{
    QFETCH(QStringList, clips);
    QFETCH(double, speed);
    QFETCH(bool, keepTime);
    QFETCH(double, over);
    QFETCH(int, rate);

    Playback playback;
    SmartSpeed *smart = playback.smartSpeed();
    smart->setSkipSilence(true);
    playback.setRate(speed);
    SinkRecorder recorder;
    playback.setAudioSink(SinkRecorder::sink(keepTime, rate));
    qint64 savedBefore = 0;
    for (const QString &clip : clips) {
        savedBefore = smart->savedMs();
        recorder.clear();
        QVERIFY2(play(playback, recorder, clip, keepTime), QMetaEnum::fromType<Playback::Status>().valueToKey(int(playback.status())));
    }

    // The clip as made: decoded as the sink gets it, without smart speed.
    int madeRate = rate;
    int madeChannels = 1;
    const std::vector<float> made = Heard::decoded(m_served[clips.last()], &madeRate, &madeChannels);
    const double madeMs = double(made.size()) / madeChannels / madeRate * 1000;
    const std::vector<float> heard = recorder.samples();
    const int heardRate = recorder.rate();
    const int channels = recorder.channels();
    QVERIFY(heardRate > 0 && !heard.empty() && !made.empty());
    const QVector<QPair<double, double>> words = wordsOf(heard, heardRate, channels, over);
    const QVector<QPair<double, double>> madeSpans = wordsOf(made, madeRate, madeChannels, over);
    QCOMPARE(words.size(), madeSpans.size());
    for (int i = 0; i < madeSpans.size(); ++i) {
        // Whole, to a frame: no cut reaches into a word, however long the clip.
        const double length = (words[i].second - words[i].first) * speed;
        const double madeLength = madeSpans[i].second - madeSpans[i].first;
        QVERIFY2(qAbs(length - madeLength) <= 12 + 45 * (speed - 1),
                 qPrintable(QStringLiteral("word %1 of %2 ms heard for %3 ms").arg(i).arg(madeLength).arg(length)));
        const bool last = i + 1 == madeSpans.size();
        const double pause = (last ? madeMs : madeSpans[i + 1].first) - madeSpans[i].second;
        const double gap = ((last ? double(heard.size()) / channels / heardRate * 1000 : words[i + 1].first) - words[i].second) * speed;
        QVERIFY2(gap >= keptMs(pause) - 10 - 45 * (speed - 1) && gap <= keptMs(pause) + 40 + 45 * (speed - 1),
                 qPrintable(QStringLiteral("a pause of %1 ms after word %2 heard as %3 ms").arg(pause).arg(i).arg(gap)));
        // A cut joins two pauses without a step larger than their own.
        if (!last && speed == 1.0) {
            const float own = largestStep(made, madeRate, madeChannels, madeSpans[i].second / 1000 + 0.01,
                                          madeSpans[i + 1].first / 1000 - 0.01);
            const float step = largestStep(heard, heardRate, channels, words[i].second / 1000 + 0.01, words[i + 1].first / 1000 - 0.01);
            QVERIFY2(step <= 2 * own + 0.001f, qPrintable(QStringLiteral("a step of %1 in a pause whose own are %2").arg(step).arg(own)));
        }
    }
    // What was cut and played, over the speed, in this clip and since the
    // start.
    const qint64 heardMs = qint64(double(heard.size()) / channels / heardRate * 1000);
    const qint64 saved = qint64(madeMs / speed) - heardMs;
    const qint64 inClip = smart->savedInClipMs();
    QVERIFY2(qAbs(inClip - saved) <= (saved < 60000 ? 100 : 1000),
             qPrintable(QStringLiteral("%1 ms said, %2 ms heard").arg(inClip).arg(saved)));
    QVERIFY2(qAbs(smart->savedMs() - inClip - savedBefore) <= 100,
             qPrintable(QStringLiteral("%1 ms in all, %2 ms before").arg(smart->savedMs()).arg(savedBefore)));
    // What the sink is told is what it is given: one timeline of samples.
    if (speed == 1.0 && rate == 0) {
        std::size_t frames = 0;
        for (const auto &[pts, count] : recorder.timing()) {
            const qint64 expected = qint64(frames) * 1000000000 / heardRate;
            QVERIFY2(qAbs(pts - expected) <= 1000000000 / heardRate,
                     qPrintable(QStringLiteral("a buffer at %1 ns after %2 samples").arg(pts).arg(frames)));
            frames += count;
        }
    }
}

void TestSmartSpeed::clipTime_data()
{
    // The speech clip (words at 0, 1.4, 2.8 and 4.2 s) with 跳过静音 on, and
    // a gesture once the position has passed a point. Then: the pitch, the
    // position and length in the clip's time, and what was heard from the
    // last restart on: silence, then words and pauses, in ms of the clip
    // ("*" for any).
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("heard");
    QTest::addColumn<int>("saved"); // ms of listening time the tooltip counts for the clip, or -1
    const QString whole = QStringLiteral("0 400 320 400 320 400 320 400");
    for (const double speed : {0.5, 1.0, 3.0})
        QTest::newRow(qPrintable(QStringLiteral("at %1x the pitch stays, the time is the clip's").arg(speed)))
            << speed << "" << whole << int(3 * 680 / speed);
    // The filter has cut the first pause by the time of the seek, but
    // playback never passed it; it did skip the rest of the second's cut.
    QTest::newRow("a seek into a cut pause goes on at the next word") << 1.0 << "seek 2300 at 200" << "192 400 320 400"
                                                                      << 308 + 680;
    QTest::newRow("the same at 2x") << 2.0 << "seek 2300 at 200" << "192 400 320 400" << (308 + 680) / 2;
    QTest::newRow("a seek back after pauses were cut") << 1.0 << "seek 1500 at 3400" << "0 300 320 400 320 400" << -1;
    QTest::newRow("a speed change after pauses were cut") << 1.0 << "speed 2 at 3000" << "* * 320 400" << 1360 + 340;
    QTest::newRow("跳过静音 off after pauses were cut: whole again") << 1.0 << "skip off at 3000" << "* * 1000 400" << 1360;
    // The buttons go back and on in the clip's own time.
    QTest::newRow("back 15 s after pauses were cut goes to the start") << 1.0 << "back at 3000" << whole << -1;
    QTest::newRow("on 30 s goes to the end") << 1.0 << "forward at 200" << "" << -1;
}

void TestSmartSpeed::clipTime()
{
    QFETCH(double, speed);
    QFETCH(QString, gesture);
    QFETCH(QString, heard);
    QFETCH(int, saved);
    Playback playback;
    SmartSpeed *smart = playback.smartSpeed();
    smart->setSkipSilence(true);
    playback.setRate(speed);
    SinkRecorder recorder;
    playback.setAudioSink(SinkRecorder::sink());

    const QStringList words = gesture.split(QLatin1Char(' '));
    const qint64 when = words.value(words.size() - 1).toLongLong();
    qint64 last = 0;
    bool done = gesture.isEmpty();
    QString backwards;
    const auto during = [&](qint64 ms) {
        if (ms == 0 && playback.status() == Playback::Status::EndOfMedia)
            return; // back at the start once ended
        if (ms < last)
            backwards += QStringLiteral("%1 after %2; ").arg(ms).arg(last);
        if (last >= 0)
            last = ms;
        if (done || ms < when || playback.state() != Playback::State::Playing)
            return;
        done = true;
        last = -1; // a seek moves it where it will
        if (words.first() == QLatin1String("seek"))
            playback.setPosition(words.value(1).toLongLong());
        else if (words.first() == QLatin1String("back")) // as the buttons go, in the clip's own time
            playback.setPosition(playback.position() - 15000);
        else if (words.first() == QLatin1String("forward"))
            playback.setPosition(playback.position() + 30000);
        else if (words.first() == QLatin1String("speed"))
            playback.setRate(words.value(1).toDouble());
        else
            smart->setSkipSilence(false);
        last = playback.position();
    };
    QVERIFY2(play(playback, recorder, QStringLiteral("speech"), true, during),
             QMetaEnum::fromType<Playback::Status>().valueToKey(int(playback.status())));
    QVERIFY(done);
    QVERIFY2(backwards.isEmpty(), qPrintable(backwards));
    const double clipMs = m_clips[QStringLiteral("speech")].seconds() * 1000;
    QVERIFY2(last > clipMs - 400 * playback.rate(), qPrintable(QStringLiteral("last at %1 ms of %2").arg(last).arg(clipMs)));
    // The clip's own length.
    QVERIFY2(qAbs(playback.duration() - clipMs) <= 60, qPrintable(QString::number(playback.duration())));
    // The cuts that playback passed, each once, over the speed then.
    const qint64 counted = smart->savedInClipMs();
    QVERIFY2(saved < 0 || qAbs(counted - saved) <= 60, qPrintable(QStringLiteral("%1 ms saved, not %2").arg(counted).arg(saved)));

    const std::vector<float> samples = recorder.samples();
    const int rate = recorder.rate();
    QVERIFY2(qAbs(Heard::frequency(samples, rate, 1) - 440) < 22, qPrintable(QString::number(Heard::frequency(samples, rate, 1))));
    // From the last restart on, in the clip's time.
    const std::vector<std::size_t> restarts = recorder.restarts();
    const std::size_t from = restarts.empty() ? 0 : restarts.back();
    const std::vector<float> after(samples.begin() + std::ptrdiff_t(from * std::size_t(recorder.channels())), samples.end());
    QStringList pieces;
    double end = 0;
    for (const Heard::Burst &burst : Heard::bursts(after, rate, recorder.channels())) {
        pieces << QString::number(qRound((burst.start - end) * 1000 * playback.rate()))
               << QString::number(qRound((burst.end - burst.start) * 1000 * playback.rate()));
        end = burst.end;
    }
    const QStringList expected = heard.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY2(pieces.size() >= expected.size(), qPrintable(pieces.join(QLatin1Char(' '))));
    pieces = pieces.mid(pieces.size() - expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const double is = pieces.at(i).toDouble();
        const double want = expected.at(i).toDouble();
        const bool pause = (expected.size() - i) % 2 == 0;
        const double blur = 45 * std::fabs(playback.rate() - 1) / std::min(1.0, playback.rate()); // scaletempo's windows
        QVERIFY2(expected.at(i) == QLatin1String("*")
                     || (is >= want - (pause ? 10 : 14) - blur && is <= want + (pause ? 40 : 14) + blur),
                 qPrintable(QStringLiteral("heard %1, not %2").arg(pieces.join(QLatin1Char(' ')), heard)));
    }
}

void TestSmartSpeed::loudness_data()
{
    // Played with the switches set first. Boosted: the loudness the README
    // promises, every peak at or under -1 dBFS and lowered rather than
    // flattened, and the rumble under 80 Hz not raised with the voice.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<bool>("boost");
    QTest::addColumn<double>("lufs"); // of what is heard (the first 0.5 s on a slow link)
    QTest::newRow("a quiet voice is raised to -19 LUFS") << "quiet" << true << -19.0;
    QTest::newRow("a loud voice is turned down") << "loud" << true << -19.0;
    QTest::newRow("a voice at the target is left as it is") << "target" << true << -19.0;
    QTest::newRow("a very quiet voice gets 12 dB at most") << "very-quiet" << true << -33.0;
    QTest::newRow("a stereo voice is raised to -16 LUFS") << "quiet-stereo" << true << -16.0;
    QTest::newRow("on a slow link the first half second is at the level") << "quiet-slow" << true << -19.0;
    QTest::newRow("shortened pauses leave the level as it is") << "loud-pauses" << false << -7.3;
}

void TestSmartSpeed::loudness()
{
    QFETCH(QString, clip);
    QFETCH(bool, boost);
    QFETCH(double, lufs);
    const SynthClip &made = m_clips[clip];
    Playback playback;
    if (boost)
        playback.smartSpeed()->setBoostVoice(true);
    else
        playback.smartSpeed()->setSkipSilence(true);
    SinkRecorder recorder;
    playback.setAudioSink(SinkRecorder::sink());
    QVERIFY(play(playback, recorder, clip, true));
    const std::vector<float> heard = recorder.samples();
    const int rate = recorder.rate();
    const int channels = recorder.channels();
    QVERIFY(rate > 0 && !heard.empty());

    const float madePeak = Heard::peak(made.samples(), made.channels());
    const float peak = Heard::peak(heard, channels);
    if (!boost) {
        QVERIFY2(qAbs(peak - madePeak) < 0.01f, qPrintable(QString::number(peak)));
        QVERIFY2(double(heard.size()) / channels / rate < made.seconds() - 1, "no pause was cut");
        return;
    }
    const bool slow = clip.endsWith(QLatin1String("-slow"));
    const std::vector<float> measured = slow ? std::vector<float>(heard.begin(), heard.begin() + std::ptrdiff_t(rate / 2 * channels))
                                             : heard;
    const double heardLufs = Heard::loudness(measured, rate, channels);
    QVERIFY2(qAbs(heardLufs - lufs) <= 1, qPrintable(QStringLiteral("%1 LUFS").arg(heardLufs)));
    QVERIFY2(peak <= kCeiling + 1e-4f, qPrintable(QString::number(peak)));
    // A limiter lowers a loud burst; a clamp would flatten its crests.
    QVERIFY2(Heard::longestRunAt(heard, kCeiling - 1e-3f) < 3, qPrintable(QString::number(Heard::longestRunAt(heard, kCeiling - 1e-3f))));
    const SynthClip::Tone &last = made.tones().back();
    const double middle = (last.start + last.end) / 2;
    const double crest = Heard::peak(std::vector<float>(heard.begin() + std::ptrdiff_t(std::size_t(middle * rate) * std::size_t(channels)),
                                                        heard.begin() + std::ptrdiff_t(std::size_t((middle + 0.005) * rate) * std::size_t(channels))),
                                     channels)
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
    const double gain = heardLufs - Heard::loudness(made.samples(), made.rate(), made.channels());
    const SynthClip::Tone &first = made.tones().front();
    const double rumble = Heard::rmsDb(heard, rate, channels, first.end + 0.05, first.end + 0.15)
        - Heard::rmsDb(made.samples(), made.rate(), made.channels(), first.end + 0.05, first.end + 0.15);
    QVERIFY2(rumble <= gain - 8, qPrintable(QStringLiteral("the rumble rose %1 dB, the voice %2 dB").arg(rumble).arg(gain)));
}

void TestSmartSpeed::switchesMidClip_data()
{
    // A switch turned while the clip plays, once it has reached a point:
    // what is heard changes from there, the position goes on, and no peak
    // is ever flattened at the ceiling.
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("check");
    QTest::newRow("both switched on: the position goes on, the voice turned down, the next pause shortened")
        << "speech" << "both at 1500" << "next pause 320, level -4";
    QTest::newRow("跳过静音 switched on mid-word: the next pause is shortened") << "speech" << "skip at 1500" << "next pause 320";
    QTest::newRow("a boost switched on mid-tone ramps the level up") << "steady" << "boost at 1500" << "no jump";
    QTest::newRow("the boost switched on far into a clip, ahead of its analysis") << "bursts" << "boost at 5000" << "";
    QTest::newRow("a seek ahead of the analysis with the boost on") << "bursts-slow" << "boost, seek 5000 at 300" << "";
}

void TestSmartSpeed::switchesMidClip()
{
    QFETCH(QString, clip);
    QFETCH(QString, gesture);
    QFETCH(QString, check);
    Playback playback;
    SmartSpeed *smart = playback.smartSpeed();
    if (gesture.startsWith(QLatin1String("boost, ")))
        smart->setBoostVoice(true);
    SinkRecorder recorder;
    playback.setAudioSink(SinkRecorder::sink());
    const qint64 when = gesture.section(QLatin1Char(' '), -1).toLongLong();
    qint64 last = 0;
    qint64 turnedAt = -1;
    qint64 next = -1;
    const auto during = [&](qint64 ms) {
        if (turnedAt >= 0 && next < 0 && ms != turnedAt)
            next = ms;
        if (turnedAt < 0 && ms >= when && playback.state() == Playback::State::Playing) {
            turnedAt = ms;
            if (gesture.contains(QLatin1String("seek")))
                playback.setPosition(gesture.section(QLatin1Char(' '), -3, -3).toLongLong());
            if (gesture.startsWith(QLatin1String("skip")) || gesture.startsWith(QLatin1String("both")))
                smart->setSkipSilence(true);
            if (gesture.startsWith(QLatin1String("boost at")) || gesture.startsWith(QLatin1String("both")))
                smart->setBoostVoice(true);
            recorder.clear(); // what follows is the switch's
        }
        last = std::max(last, ms);
    };
    QVERIFY(play(playback, recorder, clip, true, during));
    QVERIFY(turnedAt >= 0);
    const std::vector<float> heard = recorder.samples();
    const int rate = recorder.rate();
    QVERIFY2(Heard::longestRunAt(heard, kCeiling - 1e-3f) < 3, "a peak was flattened at the ceiling");
    if (!gesture.contains(QLatin1String("seek")))
        QVERIFY2(next > turnedAt && next < turnedAt + 400, qPrintable(QStringLiteral("%1 ms, then %2 ms").arg(turnedAt).arg(next)));

    const std::vector<Heard::Burst> words = Heard::bursts(heard, rate, 1, 0.02);
    if (check.startsWith(QLatin1String("next pause "))) {
        // The pause after the word that was playing: as kept, not whole.
        QVERIFY(words.size() >= 2);
        const double gap = (words[1].start - words[0].end) * 1000;
        const double want = check.section(QLatin1Char(' '), 2, 2).remove(QLatin1Char(',')).toDouble();
        QVERIFY2(gap >= want - 10 && gap <= want + 30, qPrintable(QStringLiteral("%1 ms").arg(gap)));
    }
    if (check.contains(QLatin1String("level "))) {
        // The voice, louder than the target, is turned down from then on.
        const double before = -12;
        const double after = Heard::rmsDb(heard, rate, 1, words.back().start + 0.05, words.back().end - 0.05);
        QVERIFY2(after < before + check.section(QLatin1Char(' '), -1).toDouble(), qPrintable(QStringLiteral("%1 dB").arg(after)));
    }
    if (check == QLatin1String("no jump")) {
        // A tone's own largest step grows with its level; a gain that jumps
        // steps further than the louder tone ever does. Where playback starts
        // again (the switch's flush), the wave may jump.
        const float peak = Heard::peak(heard);
        const double ownStep = 2 * peak * std::sin(M_PI * 440 / rate);
        const float largest = largestStep(heard, rate, 1, 0.01, double(heard.size()) / rate);
        QVERIFY2(peak > 2 * std::pow(10.0, -30.0 / 20), qPrintable(QString::number(peak)));
        QVERIFY2(largest < ownStep * 1.2, qPrintable(QStringLiteral("%1 against %2").arg(largest).arg(ownStep)));
        // To its very end: the analysis is there first, so the limiter knows the last peaks.
        const double seconds = double(heard.size()) / rate;
        const double end = Heard::rmsDb(heard, rate, 1, seconds - 0.02, seconds);
        const double before = Heard::rmsDb(heard, rate, 1, seconds - 0.3, seconds - 0.1);
        QVERIFY2(qAbs(end - before) < 1, qPrintable(QStringLiteral("%1 dB at the end, %2 dB before").arg(end).arg(before)));
    }
}

void TestSmartSpeed::analysis_data()
{
    // The analysis alone, fed decoded audio with its timestamps as a decoder
    // gives it: every cut planned must lie inside a pause as made, leaving
    // 60 ms after the last word and 80 ms before the next (to a frame).
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("mishap");
    QTest::newRow("4 minutes at 22050 Hz") << 22050 << "";
    QTest::newRow("4 minutes at 11025 Hz") << 11025 << "";
    QTest::newRow("frames the decoder drops midway") << 22050 << "dropped frames";
    QTest::newRow("the rate changes midway") << 22050 << "new rate";
    QTest::newRow("an analysis that fails ends, and says so") << 0 << "garbage";
}

void TestSmartSpeed::analysis()
{
    QFETCH(int, rate);
    QFETCH(QString, mishap);
    const auto state = std::make_shared<SpeechState>();
    if (mishap == QLatin1String("garbage")) {
        LogCapture log;
        QNetworkAccessManager network;
        ClipDownload clip(&network, QUrl(address(QStringLiteral("garbage"))), ClipDownload::defaultLimits());
        SpeechAnalysis analysis(clip.memory(), state);
        QTRY_VERIFY_WITH_TIMEOUT(state->isFinished(), 20000);
        QTRY_VERIFY(log.warningLines().join(QLatin1Char('\n')).contains(QLatin1String("clip analysis stopped")));
        return;
    }
    SynthClip made = SynthClip::reading(4, rate);
    const int secondRate = 16000;
    SynthClip second = SynthClip::reading(2, secondRate, -60, 5);
    const std::size_t half = std::size_t(made.seconds() / 2 * rate);
    qint64 dropFrom = -1; // four frames, inside a word, as it happens
    if (mishap == QLatin1String("dropped frames"))
        dropFrom = qint64(made.tones()[made.tones().size() / 2].start * rate) / 576 * 576 + 576;
    // In buffers of one MP3 frame.
    const std::vector<float> &samples = made.samples();
    qint64 ns = 0;
    for (std::size_t at = 0; at < samples.size(); at += 576) {
        const std::size_t count = std::min<std::size_t>(576, samples.size() - at);
        if (mishap == QLatin1String("new rate") && at >= half)
            break;
        if (dropFrom >= 0 && qint64(at) >= dropFrom && qint64(at) < dropFrom + 4 * 576) {
            ns += qint64(count) * 1000000000 / rate; // gone, and its time with it
            continue;
        }
        state->addAudio(samples.data() + at, count, rate, 1, ns);
        ns += qint64(count) * 1000000000 / rate;
    }
    QVector<QPair<double, double>> words;
    for (const SynthClip::Tone &tone : made.tones())
        words.append({tone.start * 1000, tone.end * 1000});
    if (mishap == QLatin1String("new rate")) {
        const double offset = double(half) / rate;
        words.erase(std::remove_if(words.begin(), words.end(), [&](const auto &w) { return w.second > offset * 1000; }), words.end());
        for (std::size_t at = 0; at < second.samples().size(); at += 576) {
            const std::size_t count = std::min<std::size_t>(576, second.samples().size() - at);
            state->addAudio(second.samples().data() + at, count, secondRate, 1,
                            qint64((offset + double(at) / secondRate) * 1e9), at == 0);
        }
        for (const SynthClip::Tone &tone : second.tones())
            words.append({(offset + tone.start) * 1000, (offset + tone.end) * 1000});
    }
    state->finish();

    int cuts = 0;
    SpeechPlan::Cut cut;
    for (qint64 us = 0; state->cutAfter(us, &cut); us = cut.endUs, ++cuts) {
        const auto next = std::find_if(words.cbegin(), words.cend(), [&](const auto &w) { return w.first * 1000 >= cut.endUs; });
        QVERIFY2(next != words.cbegin(), qPrintable(QStringLiteral("a cut at %1 ms before the first word").arg(cut.startUs / 1000)));
        const double lastEnd = std::prev(next)->second;
        QVERIFY2(cut.startUs / 1000.0 >= lastEnd + 60 - 10,
                 qPrintable(QStringLiteral("a cut from %1 ms, %2 ms after a word").arg(cut.startUs / 1000).arg(cut.startUs / 1000.0 - lastEnd)));
        if (next != words.cend())
            QVERIFY2(cut.endUs / 1000.0 <= next->first - 80 + 10,
                     qPrintable(QStringLiteral("a cut to %1 ms, %2 ms before a word").arg(cut.endUs / 1000).arg(next->first - cut.endUs / 1000.0)));
    }
    // Nearly every pause is long enough to be cut.
    QVERIFY2(cuts > words.size() * 9 / 10, qPrintable(QStringLiteral("%1 cuts for %2 words").arg(cuts).arg(words.size())));
}

void TestSmartSpeed::waitsGiveWay_data()
{
    // A boosted clip's first sound waits for a second of it to be measured;
    // on a link that stalls, that is a while. Nothing the user does then
    // waits for it.
    QTest::addColumn<QString>("gesture");
    QTest::newRow("a stop") << "stop";
    QTest::newRow("another clip") << "another clip";
}

void TestSmartSpeed::waitsGiveWay()
{
    QFETCH(QString, gesture);
    Playback playback;
    playback.smartSpeed()->setBoostVoice(true);
    playback.setAudioSink(SinkRecorder::sink());
    playback.setSource(QUrl(address(QStringLiteral("quiet-stalled"))));
    playback.play();
    QTest::qWait(500); // no signal says the filter waits: it has begun to by now
    QElapsedTimer held;
    held.start();
    if (gesture == QLatin1String("stop")) {
        playback.stop();
    } else {
        playback.setSource(QUrl(address(QStringLiteral("speech"))));
        playback.play();
    }
    // A window held by that wait would be held for its whole 2 s, the link
    // being silent for longer: half of that is a margin no loaded machine
    // eats into, and no slip gets under.
    QVERIFY2(held.elapsed() < 1000, qPrintable(QStringLiteral("the window waited %1 ms").arg(held.elapsed())));
}

QTEST_MAIN(TestSmartSpeed)
#include "tst_smartspeed.moc"
