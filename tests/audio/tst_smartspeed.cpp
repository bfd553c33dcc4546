#include "clipdownload.h"
#include "playback.h"
#include "smartspeed.h"
#include "speechanalysis.h"

#include "sinkrecorder.h"
#include "speechchecks.h"
#include "synthclip.h"
#include "testserver.h"

#include <QRegularExpression>
#include <QtTest>

#include <gst/gst.h>

#include <cmath>
#include <functional>
#include <memory>

using SpeechChecks::kCeiling;
using SpeechChecks::keptMs;
using SpeechChecks::largestStep;
using SpeechChecks::wordsOf;

// Smart speed through the real pipeline, in real time: the element is in
// the player's pipeline, the clip's time is reported, the switches stay
// for the next clip, the speed and a switch's seek go through scaletempo.
// What the processor does to the samples is its own test's.
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
    const auto fourWords = [](double floorDb) {
        SynthClip clip;
        clip.floor(floorDb).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
        return clip;
    };
    add(QStringLiteral("hiss"), fourWords(-45));
    add(QStringLiteral("speech"), fourWords(-60)); // words at 0, 1.4, 2.8 and 4.2 s
    // A quiet voice over a 40 Hz rumble, with a loud burst the gain would
    // push over: a sine's loudness is about its level.
    SynthClip quiet(16000);
    quiet.floor(-50, 40);
    for (int i = 0; i < 4; ++i)
        quiet.tone(0.8, -29.3).pause(0.2);
    add(QStringLiteral("quiet"), quiet.spike(0.5));
    // 0.2 s, then nothing for 5 s.
    TestServer::Response stalled = TestServer::ok(m_served[QStringLiteral("quiet")], "audio/wav");
    stalled.pauseAfter = 44 + 2 * 3200;
    stalled.pauseMs = 5000;
    m_server.setResponse(QStringLiteral("/smart/quiet-stalled"), stalled);
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
    QTest::newRow("the same at 2x") << 2.0 << "seek 2300 at 200" << "192 400 320 400" << (308 + 680) / 2;
    // The position ticks every 250 ms: the first tick past 2850 still falls
    // in the third word (2800 to 3200), so the change splits it.
    QTest::newRow("a speed change after pauses were cut") << 1.0 << "speed 2 at 2850" << "* * 320 400" << 1360 + 340;
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
}

void TestSmartSpeed::loudness()
{
    QFETCH(QString, clip);
    QFETCH(bool, boost);
    QFETCH(double, lufs);
    Playback playback;
    playback.smartSpeed()->setBoostVoice(boost);
    SinkRecorder recorder;
    playback.setAudioSink(SinkRecorder::sink());
    QVERIFY(play(playback, recorder, clip, true));
    const std::vector<float> heard = recorder.samples();
    const int rate = recorder.rate();
    const int channels = recorder.channels();
    QVERIFY(rate > 0 && !heard.empty());

    const float peak = Heard::peak(heard, channels);
    const double heardLufs = Heard::loudness(heard, rate, channels);
    QVERIFY2(qAbs(heardLufs - lufs) <= 1, qPrintable(QStringLiteral("%1 LUFS").arg(heardLufs)));
    QVERIFY2(peak <= kCeiling + 1e-4f, qPrintable(QString::number(peak)));
    // A limiter lowers a loud burst; a clamp would flatten its crests.
    QVERIFY2(Heard::longestRunAt(heard, kCeiling - 1e-3f) < 3, qPrintable(QString::number(Heard::longestRunAt(heard, kCeiling - 1e-3f))));
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
