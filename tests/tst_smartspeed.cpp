#include "media/mediapane.h"
#include "media/smartspeed.h"
#include "media/speechplan.h"

#include "sinkprobe.h"
#include "synthclip.h"
#include "testserver.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QtTest>

#include <ebur128.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <cmath>

namespace {

// All that reaches the pane's sound, as floats, in real time.
class Recorder
{
public:
    static QString sink()
    {
        return QStringLiteral("audioconvert ! audio/x-raw,format=F32LE ! "
                              "fakesink name=probe sync=true signal-handoffs=true");
    }

    bool attach(Playback *playback) { return connectProbe(playback, G_CALLBACK(&Recorder::handoff), this); }

    std::vector<float> samples() const
    {
        QMutexLocker lock(&m_mutex);
        return m_samples;
    }
    int rate() const { return m_rate; }
    int channels() const { return m_channels; }

private:
    static void handoff(GstElement *, GstBuffer *buffer, GstPad *pad, Recorder *self)
    {
        QMutexLocker lock(&self->m_mutex);
        if (self->m_rate == 0) {
            GstCaps *caps = gst_pad_get_current_caps(pad);
            GstAudioInfo info;
            if (caps && gst_audio_info_from_caps(&info, caps)) {
                self->m_rate = GST_AUDIO_INFO_RATE(&info);
                self->m_channels = GST_AUDIO_INFO_CHANNELS(&info);
            }
            if (caps)
                gst_caps_unref(caps);
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        const auto *data = reinterpret_cast<const float *>(map.data);
        self->m_samples.insert(self->m_samples.end(), data, data + map.size / sizeof(float));
        gst_buffer_unmap(buffer, &map);
    }

    mutable QMutex m_mutex;
    std::vector<float> m_samples;
    int m_rate = 0;
    int m_channels = 0;
};

// A stretch of loud samples: a burst of the clip's tone, in seconds.
struct Burst
{
    double start;
    double end;
};

// Where the loud samples of the first channel are, gaps under 20 ms closed.
std::vector<Burst> bursts(const std::vector<float> &samples, int rate, int channels, double over = 0.05)
{
    std::vector<Burst> found;
    const std::size_t frames = samples.size() / std::size_t(channels);
    const std::size_t bridge = std::size_t(rate / 50);
    std::size_t lastLoud = 0;
    bool any = false;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::fabs(samples[i * std::size_t(channels)]) <= over)
            continue;
        if (!any || i - lastLoud > bridge)
            found.push_back({double(i) / rate, double(i) / rate});
        found.back().end = double(i + 1) / rate;
        lastLoud = i;
        any = true;
    }
    return found;
}

double rmsDb(const std::vector<float> &samples, int rate, int channels, double from, double to)
{
    const std::size_t first = std::size_t(std::max(0.0, from) * rate) * std::size_t(channels);
    const std::size_t last = std::min(samples.size(), std::size_t(std::max(0.0, to) * rate) * std::size_t(channels));
    double sum = 0;
    for (std::size_t i = first; i < last; ++i)
        sum += double(samples[i]) * samples[i];
    return last > first && sum > 0 ? 10 * std::log10(sum / double(last - first)) : -120;
}

double loudness(const std::vector<float> &samples, int rate, int channels)
{
    ebur128_state *meter = ebur128_init(unsigned(channels), (unsigned long)rate, EBUR128_MODE_I);
    ebur128_add_frames_float(meter, samples.data(), samples.size() / std::size_t(channels));
    double lufs = -HUGE_VAL;
    ebur128_loudness_global(meter, &lufs);
    ebur128_destroy(&meter);
    return lufs;
}

// The cut a pause of this length gets, in ms.
qint64 cutOf(qint64 pauseMs)
{
    const SpeechPlan::Kept kept = SpeechPlan::kept(pauseMs * 1000);
    return pauseMs - (kept.afterUs + kept.beforeUs) / 1000;
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
    void smartSpeed_data();
    void smartSpeed();

private:
    TestServer m_server{TestServer::Scheme::Http};
    QHash<QString, SynthClip> m_clips;
};

void TestSmartSpeed::initTestCase()
{
    QVERIFY(m_server.startInThread());
    const auto add = [this](const QString &name, const SynthClip &clip) {
        m_clips.insert(name, clip);
        m_server.setResponse(QStringLiteral("/smart/") + name, TestServer::ok(clip.wav(), "audio/wav"));
    };
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
    SynthClip hiss;
    hiss.floor(-45).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    add(QStringLiteral("hiss"), hiss);
    SynthClip steady;
    steady.tone(4.0, -30);
    add(QStringLiteral("steady"), steady);
    SynthClip hum;
    hum.floor(-40, 50).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    add(QStringLiteral("hum"), hum);
    SynthClip speech;
    speech.floor(-60).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    add(QStringLiteral("speech"), speech);
    SynthClip ending;
    ending.floor(-60).tone(0.5, -12).pause(6.0);
    add(QStringLiteral("ending"), ending);
    // Voices at various loudness: a sine's loudness is about its level.
    const auto voice = [](double db, int channels) {
        SynthClip clip(16000, channels);
        clip.floor(-70);
        for (int i = 0; i < 4; ++i)
            clip.tone(0.8, db).pause(0.2);
        return clip;
    };
    add(QStringLiteral("quiet"), voice(-29.3, 1).spike(0.5)); // with a peak the gain would push over
    add(QStringLiteral("loud"), voice(-7.3, 1).spike(0.98));
    add(QStringLiteral("target"), voice(-18.3, 1));
    add(QStringLiteral("very-quiet"), voice(-44.3, 1));
    add(QStringLiteral("quiet-stereo"), voice(-27.3, 2));
}

void TestSmartSpeed::smartSpeed_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("switches"); // before the clip: "skip", "boost", by "click" or "accessible action"
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("gesture"); // while it plays
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");

    const QString allCuts = QString::number(3 * cutOf(1000));
    QTest::newRow("pauses of 0.1 to 2 s: short ones stay, none grows")
        << "pauses" << "skip" << 1.0 << "" << "gaps" << "100 250 400 800 2000";
    QTest::newRow("a soft onset arrives whole, after 80 ms of the pause") << "onsets" << "skip" << 1.0 << "" << "onsets" << "";
    QTest::newRow("a faint onset is kept by what stays before the next sound")
        << "faint" << "skip" << 1.0 << "" << "faint onsets" << "";
    QTest::newRow("pauses are found under hiss") << "hiss" << "skip" << 1.0 << "" << "saved" << allCuts;
    QTest::newRow("a steady tone is not cut") << "steady" << "skip" << 1.0 << "" << "saved" << "0";
    QTest::newRow("no click where a pause is cut") << "hum" << "skip" << 1.0 << "" << "steps" << "0.002";
    for (const double speed : {0.5, 1.0, 2.0, 3.0})
        QTest::newRow(qPrintable(QStringLiteral("at %1x the pitch stays, the position is the clip's").arg(speed)))
            << "speech" << "skip" << speed << "" << "in clip time" << allCuts;
    QTest::newRow("a seek into a cut pause lands at the next sound") << "speech" << "skip" << 1.0 << "seek 2300"
                                                                     << "lands at" << "2800";
    QTest::newRow("a seek into a cut pause at 2x") << "speech" << "skip" << 2.0 << "seek 2300" << "lands at" << "2800";
    QTest::newRow("a clip that ends in a long silence ends") << "ending" << "skip" << 1.0 << "" << "ends within"
                                                             << "2000";
    QTest::newRow("a quiet voice is raised to -19 LUFS") << "quiet" << "boost" << 1.0 << "" << "loudness" << "-19";
    QTest::newRow("a loud voice is turned down") << "loud" << "boost" << 1.0 << "" << "loudness" << "-19";
    QTest::newRow("shortened pauses leave the level as it is") << "loud" << "skip" << 1.0 << "" << "peak" << "0.98";
    QTest::newRow("a voice at the target is left as it is") << "target" << "boost" << 1.0 << "" << "loudness" << "-19";
    QTest::newRow("a very quiet voice gets 12 dB at most") << "very-quiet" << "boost" << 1.0 << "" << "loudness" << "-33";
    QTest::newRow("a stereo voice is raised to -16 LUFS") << "quiet-stereo" << "boost" << 1.0 << "" << "loudness" << "-16";
    QTest::newRow("both switched on mid-clip: the position goes on")
        << "speech" << "" << 1.0 << "switch on at 1500" << "goes on from" << "1500";
    QTest::newRow("a boost switched on mid-tone ramps the level up") << "steady" << "" << 1.0 << "switch on at 1500"
                                                                     << "no jump" << "1.2";
    QTest::newRow("a screen reader's Toggle action switches it") << "speech" << "skip by accessible action" << 1.0 << ""
                                                                 << "saved" << allCuts;
    QTest::newRow("the switches stay for the next clip") << "speech" << "skip" << 1.0 << "next clip" << "saved" << allCuts;
}

void TestSmartSpeed::smartSpeed()
{
    QFETCH(QString, clip);
    QFETCH(QString, switches);
    QFETCH(double, speed);
    QFETCH(QString, gesture);
    QFETCH(QString, what);
    QFETCH(QString, expected);
    const SynthClip &made = m_clips[clip];
    const qint64 clipMs = qint64(made.seconds() * 1000);

    MediaPane pane;
    auto *skip = pane.findChild<QAbstractButton *>(QStringLiteral("skipSilenceButton"));
    auto *boost = pane.findChild<QAbstractButton *>(QStringLiteral("voiceBoostButton"));
    QVERIFY(skip && boost && !skip->isChecked() && !boost->isChecked());
    if (switches.contains(QLatin1String("accessible action"))) {
        QAccessibleInterface *button = QAccessible::queryAccessibleInterface(skip);
        QVERIFY(button && button->actionInterface());
        button->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    } else if (switches.contains(QLatin1String("skip"))) {
        skip->click();
    }
    if (switches.contains(QLatin1String("boost")))
        boost->click();
    pane.setSpeed(speed);
    Recorder recorder;
    pane.playback()->setAudioSink(Recorder::sink());
    const QString address = m_server.baseUrl() + QStringLiteral("/smart/") + clip;
    if (gesture == QLatin1String("next clip")) {
        pane.setProperty("URL", QVariant(m_server.baseUrl() + QStringLiteral("/smart/steady")));
        QTRY_VERIFY_WITH_TIMEOUT(pane.playback()->position() > 200, 10000);
    }
    pane.setProperty("URL", QVariant(address));
    QVERIFY(recorder.attach(pane.playback()));

    // Plays to its end; the position is watched on the way.
    QElapsedTimer wall;
    wall.start();
    qint64 lastPosition = 0;
    bool backwards = false;
    qint64 landed = -1;
    qint64 toggledAt = -1;
    qint64 afterToggle = -1;
    const bool ended = QTest::qWaitFor([&] {
        const qint64 position = pane.playback()->position();
        if (pane.playback()->state() == Playback::State::Playing) {
            backwards = backwards || position < lastPosition;
            lastPosition = position;
        }
        if (gesture.startsWith(QLatin1String("seek ")) && landed < 0 && position > 200) {
            pane.seekTo(gesture.mid(5).toLongLong());
            landed = 0;
            lastPosition = 0;
            wall.restart();
        } else if (landed == 0 && wall.elapsed() > 150 && pane.playback()->status() != Playback::Status::Loading) {
            landed = position;
        }
        if (gesture.startsWith(QLatin1String("switch on at ")) && toggledAt < 0
            && position >= gesture.mid(13).toLongLong()) {
            toggledAt = position;
            skip->toggle();
            boost->toggle();
        } else if (toggledAt >= 0 && afterToggle < 0 && position != toggledAt) {
            afterToggle = position;
        }
        return pane.playback()->status() == Playback::Status::EndOfMedia;
    }, int(clipMs / speed) + 10000);
    QVERIFY2(ended, qPrintable(pane.statusText()));
    const qint64 wallMs = wall.elapsed();
    const std::vector<float> heard = recorder.samples();
    const int rate = recorder.rate();
    const int channels = recorder.channels();
    QVERIFY(rate > 0 && channels > 0 && !heard.empty());
    QVERIFY2(!backwards, "the position went back");
    // What the shortening saved, in clip time, and as planned.
    const double heardSeconds = double(heard.size()) / channels / rate;
    const qint64 savedMs = clipMs - qint64(std::lround(heardSeconds * speed * 1000));

    if (what == QLatin1String("gaps")) {
        // Each pause as heard against the pause as made: short ones whole,
        // longer ones less by what the plan cuts, none longer.
        const std::vector<Burst> heardBursts = bursts(heard, rate, channels);
        QCOMPARE(int(heardBursts.size()), 6);
        QStringList made;
        for (std::size_t i = 1; i < heardBursts.size(); ++i) {
            const qint64 pauseMs = expected.split(QLatin1Char(' ')).value(int(i - 1)).toLongLong();
            const qint64 gapMs = qint64(std::lround((heardBursts[i].start - heardBursts[i - 1].end) * 1000));
            QVERIFY2(qAbs(gapMs - (pauseMs - cutOf(pauseMs))) <= 10,
                     qPrintable(QStringLiteral("a pause of %1 ms heard as %2 ms").arg(pauseMs).arg(gapMs)));
        }
        const qint64 planned = cutOf(400) + cutOf(800) + cutOf(2000);
        QVERIFY2(qAbs(savedMs - planned) <= 30, qPrintable(QStringLiteral("%1 ms saved, %2 planned").arg(savedMs).arg(planned)));
    } else if (what == QLatin1String("onsets")) {
        QVERIFY2(savedMs > 1000, qPrintable(QString::number(savedMs)));
        const std::vector<Burst> loud = bursts(heard, rate, channels);
        QCOMPARE(int(loud.size()), 3);
        const SpeechPlan::Kept kept = SpeechPlan::kept(1000000);
        for (std::size_t i = 1; i < loud.size(); ++i) {
            const double onset = loud[i].start - 0.04;
            QVERIFY2(rmsDb(heard, rate, channels, onset + 0.002, loud[i].start - 0.002) > -50, "the soft onset was cut");
            QVERIFY2(rmsDb(heard, rate, channels, onset - 0.08, onset - 0.002) < -60, "less than 80 ms of pause before it");
            const double gap = onset - loud[i - 1].end;
            QVERIFY2(qAbs(gap * 1e6 - double(kept.afterUs + kept.beforeUs)) < 10000, qPrintable(QString::number(gap)));
        }
    } else if (what == QLatin1String("faint onsets")) {
        QVERIFY2(savedMs > 1000, qPrintable(QString::number(savedMs)));
        const std::vector<Burst> loud = bursts(heard, rate, channels);
        QCOMPARE(int(loud.size()), 3);
        for (std::size_t i = 1; i < loud.size(); ++i) {
            const double onset = rmsDb(heard, rate, channels, loud[i].start - 0.035, loud[i].start - 0.005);
            QVERIFY2(onset > -72.5, qPrintable(QStringLiteral("the faint onset was cut: %1 dB").arg(onset)));
        }
    } else if (what == QLatin1String("saved")) {
        QVERIFY2(qAbs(savedMs - expected.toLongLong()) <= 40,
                 qPrintable(QStringLiteral("%1 ms saved, not %2").arg(savedMs).arg(expected)));
        if (expected != QLatin1String("0"))
            QVERIFY2(skip->toolTip().contains(QStringLiteral("已节省 %1 秒（本音频）").arg(expected.toDouble() / 1000, 0, 'f', 1)),
                     qPrintable(skip->toolTip()));
    } else if (what == QLatin1String("steps")) {
        QVERIFY2(savedMs > 1000, qPrintable(QString::number(savedMs)));
        // In the pauses only the hum is heard: its own steps are tiny, and a
        // join that does not fade jumps.
        float largest = 0;
        const std::vector<Burst> loud = bursts(heard, rate, channels);
        for (std::size_t i = 1; i < loud.size(); ++i) {
            const std::size_t from = std::size_t((loud[i - 1].end + 0.01) * rate);
            const std::size_t to = std::size_t((loud[i].start - 0.01) * rate);
            for (std::size_t n = from + 1; n < to; ++n)
                largest = std::max(largest, std::fabs(heard[n * std::size_t(channels)] - heard[(n - 1) * std::size_t(channels)]));
        }
        QVERIFY2(largest < expected.toFloat(), qPrintable(QString::number(largest)));
    } else if (what == QLatin1String("in clip time")) {
        // The saving, heard at this speed, is the planned one over the speed.
        QVERIFY2(qAbs(savedMs - expected.toLongLong()) <= 60,
                 qPrintable(QStringLiteral("%1 ms saved, not %2").arg(savedMs).arg(expected)));
        QVERIFY2(lastPosition > clipMs - 400 * speed,
                 qPrintable(QStringLiteral("last at %1 ms of %2").arg(lastPosition).arg(clipMs)));
        // Zero crossings in the bursts, with a little hysteresis.
        int crossings = 0;
        double loudSeconds = 0;
        for (const Burst &burst : bursts(heard, rate, channels)) {
            loudSeconds += burst.end - burst.start;
            bool negative = false;
            for (std::size_t n = std::size_t(burst.start * rate); n < std::size_t(burst.end * rate); ++n) {
                const float sample = heard[n * std::size_t(channels)];
                if (std::fabs(sample) > 0.05f && (sample < 0) != negative) {
                    negative = !negative;
                    ++crossings;
                }
            }
        }
        const double hz = crossings / 2.0 / loudSeconds;
        QVERIFY2(qAbs(hz - 440) < 22, qPrintable(QStringLiteral("%1 Hz").arg(hz)));
    } else if (what == QLatin1String("lands at")) {
        // Where the pause's cut ends: the next sound, less what stays before it.
        const qint64 nextSound = expected.toLongLong();
        const qint64 before = SpeechPlan::kept(1000000).beforeUs / 1000;
        QVERIFY2(landed >= nextSound - before && landed < nextSound + 150 * speed,
                 qPrintable(QStringLiteral("at %1 ms").arg(landed)));
    } else if (what == QLatin1String("ends within")) {
        QVERIFY2(wallMs < expected.toLongLong(), qPrintable(QString::number(wallMs)));
        QVERIFY(savedMs > 4000);
    } else if (what == QLatin1String("loudness")) {
        const double lufs = loudness(heard, rate, channels);
        QVERIFY2(qAbs(lufs - expected.toDouble()) <= 1, qPrintable(QStringLiteral("%1 LUFS").arg(lufs)));
        float peak = 0;
        for (const float sample : heard)
            peak = std::max(peak, std::fabs(sample));
        QVERIFY2(peak <= SpeechPlan::toLinear(SpeechPlan::kCeilingDb) + 1e-4, qPrintable(QString::number(peak)));
    } else if (what == QLatin1String("peak")) {
        float peak = 0;
        for (const float sample : heard)
            peak = std::max(peak, std::fabs(sample));
        QVERIFY2(qAbs(peak - expected.toFloat()) < 0.01f, qPrintable(QString::number(peak)));
    } else if (what == QLatin1String("goes on from")) {
        QVERIFY(toggledAt >= expected.toLongLong());
        QVERIFY2(afterToggle > toggledAt && afterToggle < toggledAt + 400,
                 qPrintable(QStringLiteral("%1 ms, then %2 ms").arg(toggledAt).arg(afterToggle)));
        QVERIFY2(savedMs >= cutOf(1000), qPrintable(QString::number(savedMs)));
        // The voice, louder than the target, is turned down from then on.
        const std::vector<Burst> loud = bursts(heard, rate, channels, 0.02);
        QVERIFY(loud.size() >= 2);
        const double before = rmsDb(heard, rate, channels, loud.front().start + 0.05, loud.front().end - 0.05);
        const double after = rmsDb(heard, rate, channels, loud.back().start + 0.05, loud.back().end - 0.05);
        QVERIFY2(after < before - 4, qPrintable(QStringLiteral("%1 dB, then %2 dB").arg(before).arg(after)));
    } else if (what == QLatin1String("no jump")) {
        // A tone's own largest step grows with its level; a gain that jumps
        // steps further than the louder tone ever does.
        float peak = 0;
        float largest = 0;
        for (std::size_t n = 1; n < heard.size() / std::size_t(channels); ++n) {
            const float sample = heard[n * std::size_t(channels)];
            peak = std::max(peak, std::fabs(sample));
            largest = std::max(largest, std::fabs(sample - heard[(n - 1) * std::size_t(channels)]));
        }
        const double ownStep = 2 * peak * std::sin(M_PI * 440 / rate);
        QVERIFY2(peak > 2 * SpeechPlan::toLinear(-30), qPrintable(QString::number(peak)));
        QVERIFY2(largest < ownStep * expected.toDouble(), qPrintable(QStringLiteral("%1 against %2").arg(largest).arg(ownStep)));
    } else {
        QFAIL(qPrintable(what));
    }
}

QTEST_MAIN(TestSmartSpeed)
#include "tst_smartspeed.moc"
