// What smart speed does for a set of clips: synthetic readings and the
// demo's spoken clips. For each: the listening time saved at 1x and 2x,
// measured at the sink of the real pipeline; the CPU time the analysis
// takes per minute of audio (decoding included), and the least time a cut
// leaves before the next word. Then what the analysis keeps of long
// readings, and, for a change of clip with both switches off and on, the
// time from the address to the first sample at a sink that keeps time.
//   smartbench [RUNS]    (first-sample runs a mode; default 30)
#include "clipdownload.h"
#include "playback.h"
#include "smartspeed.h"
#include "speechanalysis.h"
#include "speechplan.h"
#include "percentile.h"
#include "sinkrecorder.h"
#include "synthclip.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTest>
#include <QTextStream>

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <random>

namespace {

struct Clip
{
    QString name;
    QByteArray bytes;
    QByteArray type;
};

// A reading: words of 0.2 to 1.2 s, pauses of 0.1 to 2.5 s, over a floor.
QByteArray reading(double minutes, double floorDb, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> word(0.2, 1.2);
    std::uniform_real_distribution<double> pause(0.1, 2.5);
    std::uniform_real_distribution<double> level(-20, -12);
    SynthClip clip;
    clip.floor(floorDb);
    while (clip.seconds() < minutes * 60)
        clip.tone(word(random), level(random), 180 + 40 * level(random) / -20).pause(pause(random));
    return clip.wav();
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What reaches the sink: frames, and the first one's time on benchClock.
std::atomic<qint64> heardFrames{0};
std::atomic<int> heardRate{0};
std::atomic<int> heardChannels{0};
std::atomic<qint64> firstSample{-1};
QElapsedTimer benchClock;

void count(GstElement *, GstBuffer *buffer, GstPad *pad, gpointer)
{
    if (heardRate == 0) {
        GstCaps *caps = gst_pad_get_current_caps(pad);
        GstAudioInfo info;
        if (caps && gst_audio_info_from_caps(&info, caps)) {
            heardChannels = GST_AUDIO_INFO_CHANNELS(&info);
            heardRate = GST_AUDIO_INFO_RATE(&info);
        }
        if (caps)
            gst_caps_unref(caps);
    }
    if (heardChannels > 0)
        heardFrames += qint64(gst_buffer_get_size(buffer)) / qint64(sizeof(float)) / heardChannels;
    qint64 none = -1;
    firstSample.compare_exchange_strong(none, benchClock.nsecsElapsed());
}

// Seconds heard of the clip at this speed, as fast as the pipeline goes,
// once the analysis has heard it all.
double heardSeconds(const QUrl &url, double speed, bool skip)
{
    Playback playback;
    playback.setAudioSink(QStringLiteral("audioconvert ! audio/x-raw,format=F32LE ! fakesink name=probe sync=false signal-handoffs=true"));
    playback.smartSpeed()->setSkipSilence(skip);
    playback.setRate(speed);
    playback.setSource(url);
    connectProbe(&playback, &count, nullptr);
    heardFrames = 0;
    heardRate = 0;
    heardChannels = 0;
    if (!QTest::qWaitFor([&] { return !skip || playback.smartSpeed()->isAnalysed(); }, 60000))
        return 0;
    playback.play();
    if (!QTest::qWaitFor([&] { return playback.status() == Playback::Status::EndOfMedia; }, 600000))
        return 0;
    return heardRate > 0 ? double(heardFrames) / heardRate : 0;
}

struct Analysed
{
    double msPerMinute = 0; // CPU time of the analysis alone, per minute of audio
    double closestMs = 0;   // the least time a cut leaves before the next word
};

// The analysis alone; where its cuts end, against the words of the clip as
// a decoder gives it.
Analysed analyse(const QUrl &url, const QByteArray &bytes)
{
    QNetworkAccessManager network;
    ClipDownload clip(&network, url, ClipDownload::defaultLimits());
    if (!QTest::qWaitFor([&] { return clip.isFinished(); }, 60000))
        return {};
    const auto state = std::make_shared<SpeechState>();
    const double before = cpuSeconds();
    {
        SpeechAnalysis analysis(clip.memory(), state);
        if (!QTest::qWaitFor([&] { return state->isFinished(); }, 120000))
            return {};
    }
    Analysed result;
    const double minutes = double(state->analysedUs()) / 60e6;
    result.msPerMinute = minutes > 0 ? (cpuSeconds() - before) * 1000 / minutes : 0;
    int rate = 0;
    int channels = 1;
    const std::vector<float> decoded = Heard::decoded(bytes, &rate, &channels);
    const std::vector<Heard::Burst> words = Heard::bursts(decoded, rate, channels);
    result.closestMs = 1e9;
    SpeechPlan::Cut cut;
    for (qint64 us = 0; state->cutAfter(us, &cut); us = cut.endUs) {
        const auto next = std::find_if(words.cbegin(), words.cend(), [&](const Heard::Burst &w) { return w.start * 1e6 >= cut.endUs; });
        if (next != words.cend())
            result.closestMs = std::min(result.closestMs, next->start * 1000 - cut.endUs / 1000.0);
    }
    return result;
}

// What the analysis keeps of hours of speech, fed as a decoder would feed it.
std::size_t keptAfter(double hours)
{
    SpeechState state;
    std::vector<float> word(16000 * 6 / 10);
    for (std::size_t i = 0; i < word.size(); ++i)
        word[i] = float(0.3 * std::sin(2 * M_PI * 200 * double(i) / 16000));
    const std::vector<float> pause(16000, 0.0f);
    qint64 ns = 0;
    while (ns < qint64(hours * 3600e9)) {
        for (const std::vector<float> *piece : std::initializer_list<const std::vector<float> *>{&word, &pause}) {
            state.addAudio(piece->data(), piece->size(), 16000, 1, ns);
            ns += qint64(piece->size()) * 1000000000 / 16000;
        }
    }
    state.finish();
    return state.keptBytes();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 30;
    TestServer server{TestServer::Scheme::Http};
    if (!server.startInThread())
        return 1;
    QVector<Clip> clips{{QStringLiteral("reading, clean (synthetic, 3 min)"), reading(3, -65, 1), "audio/wav"},
                        {QStringLiteral("reading under hiss (synthetic, 3 min)"), reading(3, -45, 2), "audio/wav"}};
    const QDir demo(QStringLiteral(BRIMWOLD_DEMO_CLIPS));
    QByteArray chapter;
    for (const QString &name : demo.entryList({QStringLiteral("*.mp3")}, QDir::Files, QDir::Name)) {
        QFile file(demo.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            chapter += file.readAll();
    }
    if (!chapter.isEmpty())
        clips.append({QStringLiteral("demo's spoken clips, joined (MP3)"), chapter.repeated(3), "audio/mpeg"});
    clips.append({QStringLiteral("reading at 22050 Hz (MP3, 5 min)"), SynthClip::reading(5, 22050).mp3(), "audio/mpeg"});

    QTextStream out(stdout);
    out << "clip                                      length  saved at 1x      saved at 2x      analysis CPU  "
           "least lead\n";
    for (const Clip &clip : clips) {
        const QString path = QStringLiteral("/") + QString::number(qHash(clip.name));
        server.setResponse(path, TestServer::ok(clip.bytes, clip.type));
        const QUrl url(server.baseUrl() + path);
        const double plain = heardSeconds(url, 1.0, false);
        const double at1 = plain - heardSeconds(url, 1.0, true);
        const double at2 = plain / 2 - heardSeconds(url, 2.0, true);
        out << clip.name.leftJustified(40) << QStringLiteral("%1 s").arg(plain, 6, 'f', 1)
            << QStringLiteral("  %1 s (%2%)").arg(at1, 5, 'f', 1).arg(100 * at1 / plain, 2, 'f', 0)
            << QStringLiteral("  %1 s (%2%)").arg(at2, 5, 'f', 1).arg(200 * at2 / plain, 2, 'f', 0)
            ;
        const Analysed analysed = analyse(url, clip.bytes);
        out << QStringLiteral("  %1 ms/min").arg(analysed.msPerMinute, 5, 'f', 1)
            << QStringLiteral("  %1 ms").arg(analysed.closestMs, 6, 'f', 0) << "\n";
        out.flush();
    }
    out << "least lead: the least time a cut leaves before the next word (the README promises 80 ms, to a frame)\n";
    for (const double hours : {0.5, 3.0})
        out << "what the analysis keeps of " << hours << " h of speech (besides its cuts): "
            << QString::number(double(keptAfter(hours)) / 1024, 'f', 0) << " KiB\n";

    // The first sample of a clip, with the switches off and on, in turns.
    const QUrl first(server.baseUrl() + QStringLiteral("/") + QString::number(qHash(clips.last().name)));
    benchClock.start();
    Playback playback;
    playback.setAudioSink(QStringLiteral("audioconvert ! audio/x-raw,format=F32LE ! fakesink name=probe sync=true signal-handoffs=true"));
    QVector<double> toFirst[2];
    for (int i = 0; i <= 2 * runs; ++i) {
        const bool on = i % 2;
        playback.smartSpeed()->setSkipSilence(on);
        playback.smartSpeed()->setBoostVoice(on);
        firstSample = -1;
        const qint64 start = benchClock.nsecsElapsed();
        playback.setSource(first);
        playback.play();
        if (i == 0)
            connectProbe(&playback, &count, nullptr);
        if (!QTest::qWaitFor([] { return firstSample >= 0; }, 10000))
            return 2;
        if (i > 0)
            toFirst[on].append((firstSample - start) / 1e6);
        QTest::qWait(200);
    }
    for (const bool on : {false, true})
        out << "address to first sample, both switches " << (on ? "on: " : "off:") << " median "
            << QString::number(percentile(toFirst[on], 0.5), 'f', 1) << " ms, 90th percentile "
            << QString::number(percentile(toFirst[on], 0.9), 'f', 1) << " ms (" << toFirst[on].size() << " runs)\n";
    return 0;
}
