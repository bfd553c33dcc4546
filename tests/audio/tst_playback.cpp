#include "playback.h"

#include "sinkrecorder.h"
#include "soundserver.h"
#include "testclips.h"
#include "testserver.h"

#include <QtTest>

#include <gst/gst.h>

#include <atomic>

namespace {

// Counts what the pipeline's bus is told, as it is posted, without taking
// anything from the player that reads it.
class BusWatch
{
public:
    explicit BusWatch(Playback *playback)
        : m_bus(gst_element_get_bus(GST_ELEMENT(pipelineOf(playback->audioSink()))))
    {
        gst_bus_set_sync_handler(m_bus, &BusWatch::posted, this, nullptr);
    }
    ~BusWatch()
    {
        gst_bus_set_sync_handler(m_bus, nullptr, nullptr, nullptr);
        gst_object_unref(m_bus);
    }
    int requests() const { return m_requests; }
    // The player went from playing to paused and back: how often.
    int replays() const { return m_replays; }
    // The player has taken every message posted so far.
    bool drained() const { return !gst_bus_have_pending(m_bus); }

private:
    // Each bin has a bus of its own for its children: the player's is the top one.
    static GstObject *pipelineOf(GstElement *element)
    {
        GstObject *top = GST_OBJECT(element);
        while (GST_OBJECT_PARENT(top))
            top = GST_OBJECT_PARENT(top);
        return top;
    }
    static GstBusSyncReply posted(GstBus *, GstMessage *message, gpointer data)
    {
        auto *self = static_cast<BusWatch *>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_REQUEST_STATE)
            ++self->m_requests;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STATE_CHANGED && !GST_OBJECT_PARENT(GST_MESSAGE_SRC(message))) {
            GstState was = GST_STATE_VOID_PENDING;
            GstState now = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(message, &was, &now, nullptr);
            if (was == GST_STATE_PLAYING && now == GST_STATE_PAUSED)
                self->m_paused = true;
            else if (now == GST_STATE_PLAYING && self->m_paused.exchange(false))
                ++self->m_replays;
        }
        return GST_BUS_PASS;
    }

    GstBus *m_bus;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_paused{false};
    std::atomic<int> m_replays{0};
};

QString stateName(Playback::State state)
{
    return QString::fromLatin1(QMetaEnum::fromType<Playback::State>().valueToKey(int(state)));
}

} // namespace

// The player through real sound: its pitch and pace at each speed, and a
// sound server of its own as a desktop has.
class TestPlayback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pitchKeptAtEverySpeed_data();
    void pitchKeptAtEverySpeed();
    void soundServer_data();
    void soundServer();

private:
    QString address(const char *path) const { return m_server.baseUrl() + QLatin1String(path); }

    TestServer m_server{TestServer::Scheme::Http};
};

void TestPlayback::initTestCase()
{
    QVERIFY(m_server.startInThread());
    TestClips::serve(m_server);
    // autoaudiosink may find the sound server's output, or nothing.
    qputenv("GST_PLUGIN_FEATURE_RANK", "alsasink:NONE,osssink:NONE,oss4sink:NONE,jackaudiosink:NONE,openalsink:NONE");
}

void TestPlayback::pitchKeptAtEverySpeed_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
    QTest::newRow("0.5x") << 0.5;
}

void TestPlayback::pitchKeptAtEverySpeed()
{
    QFETCH(double, rate);
    SinkRecorder probe;
    Playback playback;
    playback.setAudioSink(SinkRecorder::sink());
    playback.setSource(QUrl(address("/voice/long")));
    QVERIFY(probe.attach(&playback));
    playback.setRate(rate);
    playback.play();
    QTRY_VERIFY_WITH_TIMEOUT(playback.position() > 1000, 10000);

    // Two seconds of sound: the tone's own pitch, and as much of the clip
    // as the speed says. A speed not applied is off by half or more.
    probe.clear();
    const qint64 from = playback.position();
    QTRY_VERIFY_WITH_TIMEOUT(probe.frames() >= std::size_t(probe.rate() * 2), 10000);
    const qint64 to = playback.position();
    const std::vector<float> heard = probe.samples();
    const double hz = Heard::frequency(heard, probe.rate(), probe.channels());
    const double pace = double(to - from) / 1000 / (double(heard.size()) / probe.channels() / probe.rate());
    QVERIFY2(qAbs(hz - TestClips::kToneHz) <= 0.05 * TestClips::kToneHz,
             qPrintable(QStringLiteral("%1 Hz at %2x").arg(hz).arg(rate)));
    QVERIFY2(qAbs(pace - rate) <= 0.25 * rate, qPrintable(QStringLiteral("%1 s of clip a second at %2x").arg(pace).arg(rate)));
}

void TestPlayback::soundServer_data()
{
    // Played through a sound server of the test's own, as on a desktop: the
    // desktop's own output, which the server's monitor hears. A call is a
    // stream of the phone's, which the server pauses other players for.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");  // at the end
    QTest::addColumn<bool>("sounding");  // the output plays then
    QTest::newRow("a clip plays through the desktop's output") << "" << "Playing" << true;
    QTest::newRow("a call pauses the clip, and its end lets it go on") << "ring, hang up" << "Playing" << true;
    QTest::newRow("a pause of the user's own stays after a call") << "pause, ring, hang up" << "Paused" << false;
    // GStreamer tells of a lost clock only while the pipeline plays.
    QTest::newRow("a lost clock: another is chosen, and it plays on") << "clock lost" << "Playing" << true;
    QTest::newRow("no sound server: 缺少播放组件") << "server gone" << "Stopped" << false;
}

void TestPlayback::soundServer()
{
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(bool, sounding);
    SoundServer sound;
    if (!sound.start())
        QFAIL(qPrintable(sound.error()));
    QVERIFY(sound.listen());
    if (steps == QLatin1String("server gone"))
        sound.stop();
    Playback playback;
    QSignalSpy errors(&playback, &Playback::errorOccurred);
    playback.setAudioSink(QString()); // the desktop's own
    playback.setSource(QUrl(address("/voice/long")));
    playback.play();
    if (steps == QLatin1String("server gone")) {
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 10000);
        QCOMPARE(errors.first().at(0).value<Playback::Error>(), Playback::Error::ServiceMissing);
        QVERIFY2(errors.first().at(1).toString().contains(QLatin1String("autoaudiosink found none")),
                 qPrintable(errors.first().at(1).toString()));
        QCOMPARE(stateName(playback.state()), state);
        return;
    }
    // Its first sound reaches the output.
    QTRY_VERIFY_WITH_TIMEOUT(Heard::peak(sound.heard()) > 0.5f * TestClips::kTonePeak, 10000);
    BusWatch bus(&playback);
    int requests = 0;
    for (const QString &step : steps.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("pause")) {
            playback.pause();
            QTRY_COMPARE(playback.state(), Playback::State::Paused);
        } else if (step == QLatin1String("ring") || step == QLatin1String("hang up")) {
            // The server asks the player's output to pause, or to go on.
            if (step == QLatin1String("ring"))
                QVERIFY(sound.ring());
            else
                sound.hangUp();
            QTRY_VERIFY_WITH_TIMEOUT(bus.requests() > requests, 10000);
            requests = bus.requests();
            QTRY_VERIFY(bus.drained());
            if (step == QLatin1String("ring"))
                QCOMPARE(playback.state(), Playback::State::Paused);
        } else if (step == QLatin1String("clock lost")) {
            GstElement *sink = playback.audioSink();
            GstClock *clock = gst_element_get_clock(sink);
            QVERIFY(clock);
            gst_element_post_message(sink, gst_message_new_clock_lost(GST_OBJECT(sink), clock));
            gst_object_unref(clock);
            // A new clock is chosen on the way from paused back to playing.
            QTRY_COMPARE_WITH_TIMEOUT(bus.replays(), 1, 10000);
        }
    }
    QCOMPARE(stateName(playback.state()), state);
    // What the output plays from then on: the second half of a second of it,
    // after what was on its way.
    const qint64 from = playback.position();
    QVERIFY(sound.listen());
    QTRY_VERIFY_WITH_TIMEOUT(sound.heard().size() >= 16000, 10000);
    const float loudest = Heard::peak(sound.heard(), 1, 8000);
    QVERIFY2((loudest > 0.5f * TestClips::kTonePeak) == sounding, qPrintable(QString::number(loudest)));
    QCOMPARE(playback.position() > from, sounding);
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
