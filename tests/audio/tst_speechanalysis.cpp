#include "clipdownload.h"
#include "speechanalysis.h"

#include "logcapture.h"
#include "synthclip.h"
#include "testserver.h"

#include <QNetworkAccessManager>
#include <QtTest>

#include <memory>

// The analysis of a clip: fed decoded audio with its timestamps as a
// decoder gives it, and in a pipeline of its own.
class TestSpeechAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void analysis_data();
    void analysis();

private:
    TestServer m_server{TestServer::Scheme::Http};
};

void TestSpeechAnalysis::initTestCase()
{
    QVERIFY(m_server.startInThread());
    // A clip that begins as one and goes on as nothing: no decoder takes it.
    m_server.setResponse(QStringLiteral("/garbage"),
                         TestServer::ok(QByteArray("ID3\x03\0\0\0\0\0\x0a", 10) + QByteArray(10, '\0') + QByteArray(30000, 'Z'),
                                        "audio/mpeg"));
}

void TestSpeechAnalysis::analysis_data()
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

void TestSpeechAnalysis::analysis()
{
    QFETCH(int, rate);
    QFETCH(QString, mishap);
    const auto state = std::make_shared<SpeechState>();
    if (mishap == QLatin1String("garbage")) {
        LogCapture log;
        QNetworkAccessManager network;
        ClipDownload clip(&network, QUrl(m_server.baseUrl() + QStringLiteral("/garbage")), ClipDownload::defaultLimits());
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

QTEST_MAIN(TestSpeechAnalysis)
#include "tst_speechanalysis.moc"
