#include "clipdownload.h"

#include "logcapture.h"
#include "sinkrecorder.h"
#include "stallmeter.h"
#include "synthclip.h"
#include "testserver.h"

#include <QNetworkAccessManager>
#include <QtTest>

Q_DECLARE_METATYPE(TestServer::Response)

namespace {

using Response = TestServer::Response;
const QString kPath = QStringLiteral("/voice/clip");

// A second of tone, as WAV: bytes the test knows to the last.
QByteArray clipBytes()
{
    SynthClip clip;
    clip.tone(1.0, -12);
    return clip.wav();
}

Response answer(const QByteArray &body, const QByteArray &etag = "\"v1\"")
{
    Response response = TestServer::ok(body, "audio/wav");
    response.headers.append(qMakePair(QByteArray("ETag"), etag));
    return response;
}

Response cutAt(const QByteArray &body, double part)
{
    Response response = answer(body);
    response.cutAfter = int(body.size() * part);
    return response;
}

Response status(int code)
{
    Response response;
    response.status = code;
    response.body = "<html>no</html>";
    return response;
}

} // namespace

// A clip download that breaks off, against a loopback server whose every
// answer the test sets: what it asks for again, what it splices on, and
// how it ends. The waits are short here.
class TestClipDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void resumes_data();
    void resumes();
    void playsThrough_data();
    void playsThrough();
    void waitsOffTheWindowsThread();

private:
    TestServer m_server{TestServer::Scheme::Http};
    const QByteArray m_clip = clipBytes();
};

void TestClipDownload::initTestCase()
{
    QVERIFY(m_server.startInThread());
}

void TestClipDownload::resumes_data()
{
    QTest::addColumn<QList<Response>>("answers"); // in turn, the last again and again
    QTest::addColumn<QString>("ending");          // "whole", or the failure's words
    QTest::addColumn<int>("requests");            // tries, asked for or waited for
    QTest::addColumn<QString>("asked");           // the last request's Range and If-Range
    QTest::addColumn<QList<int>>("waits");        // before each try, in ms
    QTest::addColumn<QString>("stop");            // "" or "stop in the wait"
    const QByteArray clip = m_clip;
    const int tenth = int(clip.size() * 0.1);
    const int sixty = int(clip.size() * 0.6);
    const auto range = [](int from) { return QStringLiteral("bytes=%1- \"v1\"").arg(from); };
    Response whole = answer(clip);
    whole.ignoreRanges = true;
    QTest::newRow("cut at 10 %, the server honouring Range") << QList<Response>{cutAt(clip, 0.1), answer(clip)} << "whole" << 2
                                                             << range(tenth) << QList<int>{10} << "";
    QTest::newRow("cut at 60 %, the server honouring Range") << QList<Response>{cutAt(clip, 0.6), answer(clip)} << "whole" << 2
                                                             << range(sixty) << QList<int>{10} << "";
    QTest::newRow("cut at 10 %, the server answering the whole clip") << QList<Response>{cutAt(clip, 0.1), whole} << "whole" << 2
                                                                      << range(tenth) << QList<int>{10} << "";
    QTest::newRow("cut at 60 %, the server answering the whole clip") << QList<Response>{cutAt(clip, 0.6), whole} << "whole" << 2
                                                                      << range(sixty) << QList<int>{10} << "";
    QTest::newRow("cut twice, resumed twice") << QList<Response>{cutAt(clip, 0.1), cutAt(clip, 0.5), answer(clip)} << "whole"
                                              << 3 << range(tenth + int(clip.size() * 0.5)) << QList<int>{10, 10} << "";
    Response other = answer(clip, "\"v2\"");
    other.ignoreRanges = true;
    QTest::newRow("the ETag changed on the retry: not spliced") << QList<Response>{cutAt(clip, 0.6), other}
                                                                << "服务器上的音频已更改" << 2 << range(sixty) << QList<int>{10} << "";
    Response shifted = answer(clip);
    shifted.rangeShift = 100;
    QTest::newRow("a 206 from another byte: not spliced") << QList<Response>{cutAt(clip, 0.6), shifted} << "服务器上的音频已更改"
                                                          << 2 << range(sixty) << QList<int>{10} << "";
    QTest::newRow("a 206 of another length: not spliced") << QList<Response>{cutAt(clip, 0.6), answer(clip + clip.right(500))}
                                                          << "服务器上的音频已更改" << 2 << range(sixty) << QList<int>{10} << "";
    Response longer = answer(clip + clip.right(500));
    longer.ignoreRanges = true;
    QTest::newRow("a 200 of another length: not spliced") << QList<Response>{cutAt(clip, 0.6), longer} << "服务器上的音频已更改" << 2
                                                          << range(sixty) << QList<int>{10} << "";
    QByteArray edited = clip;
    edited[100] = char(edited[100] ^ 0x55);
    Response unlike = answer(edited);
    unlike.ignoreRanges = true;
    QTest::newRow("a 200 whose start differs from what is held: not spliced") << QList<Response>{cutAt(clip, 0.6), unlike}
                                                                              << "服务器上的音频已更改" << 2 << range(sixty)
                                                                              << QList<int>{10} << "";
    QTest::newRow("a 416: not spliced") << QList<Response>{cutAt(clip, 0.6), status(416)} << "服务器上的音频已更改" << 2
                                        << range(sixty) << QList<int>{10} << "";
    Response nothing = answer(clip);
    nothing.cutAfter = 0;
    QTest::newRow("every retry failing: five tries without new bytes, waits that grow")
        << QList<Response>{cutAt(clip, 0.6), nothing} << "网络错误" << 6 << range(sixty) << QList<int>{10, 20, 40, 80, 80} << "";
    QTest::newRow("a server gone from the start: five tries in all") << QList<Response>{nothing} << "网络错误" << 5 << ""
                                                                      << QList<int>{10, 20, 40, 80} << "";
    QTest::newRow("a stop in the wait: nothing is asked after it") << QList<Response>{cutAt(clip, 0.6), answer(clip)} << "网络错误"
                                                                   << 2 << "" << QList<int>{1000} << "stop in the wait";
    QTest::newRow("a 503, then the clip") << QList<Response>{status(503), answer(clip)} << "whole" << 2 << "" << QList<int>{10} << "";
    QTest::newRow("a 408 from a proxy, then the clip") << QList<Response>{status(408), answer(clip)} << "whole" << 2 << ""
                                                       << QList<int>{10} << "";
    Response busy = status(429);
    busy.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("1")));
    QTest::newRow("a 429 waits for its Retry-After") << QList<Response>{busy, answer(clip)} << "whole" << 2 << ""
                                                     << QList<int>{1000} << "";
    QTest::newRow("a 404 on the retry: not asked again") << QList<Response>{cutAt(clip, 0.6), status(404)} << "无法读取音频" << 2
                                                         << range(sixty) << QList<int>{10} << "";
    QTest::newRow("a 404 at once: not asked again") << QList<Response>{status(404)} << "无法读取音频" << 1 << ""
                                                    << QList<int>{} << "";
    Response chunks = answer(clip);
    chunks.chunked = true;
    chunks.cutAfter = sixty;
    // Qt may take it for a whole answer; then the download asks for what
    // would follow, at once.
    QTest::newRow("no length, chunked, cut mid-chunk: resumed") << QList<Response>{chunks, answer(clip)} << "whole" << 2
                                                                << range(sixty) << QList<int>{10} << "Qt may take it for whole";
    QTest::newRow("all that is kept is bounded, over every try") << QList<Response>{cutAt(clip, 0.6), answer(clip)} << "音频过大"
                                                                 << 2 << range(sixty) << QList<int>{10} << "bound";
}

void TestClipDownload::resumes()
{
    QFETCH(QList<Response>, answers);
    QFETCH(QString, ending);
    QFETCH(int, requests);
    QFETCH(QString, asked);
    QFETCH(QList<int>, waits);
    QFETCH(QString, stop);
    m_server.setResponses(kPath, answers);
    const int before = m_server.requestCount(kPath);
    LogCapture log;
    QNetworkAccessManager network;
    FetchLimits limits = ClipDownload::defaultLimits();
    if (stop == QLatin1String("bound"))
        limits.maxBytes = m_clip.size() - 10;
    ClipDownloadRetries retries;
    retries.waitsMs = {10, 20, 40, 80};
    if (stop == QLatin1String("stop in the wait"))
        retries.waitsMs = {1000};
    ClipDownload download(&network, QUrl(m_server.baseUrl() + kPath), limits, retries);
    QList<int> waited;
    connect(&download, &ClipDownload::reconnectingChanged, this, [&] {
        if (download.reconnecting() > 0)
            waited.append(download.waitMs());
        if (stop == QLatin1String("stop in the wait") && download.reconnecting() == 1)
            download.stopRetrying();
    });
    QTRY_VERIFY_WITH_TIMEOUT(download.isFinished(), 20000);
    QTest::qWait(100); // nothing more is asked
    const QStringList warnings = log.warningLines();
    // Its tries: Qt itself may send a request again once when a connection
    // closes before an answer has begun, which the server counts too.
    if (stop == QLatin1String("Qt may take it for whole") && waited.isEmpty())
        waited = {10}; // asked again at once
    QCOMPARE(waited.size() + 1, requests);
    const int asks = m_server.requestCount(kPath) - before;
    const bool stopped = stop == QLatin1String("stop in the wait");
    if (stopped)
        QCOMPARE(asks, 1);
    else
        QVERIFY2(asks >= requests && asks <= 2 * requests, qPrintable(QString::number(asks)));
    QCOMPARE(waited, waits);
    QCOMPARE(download.reconnecting(), 0);
    QCOMPARE(QString::fromLatin1(m_server.requestHeader(kPath, "Range") + ' ' + m_server.requestHeader(kPath, "If-Range")).trimmed(),
             asked);
    // One warning line a retry, with the byte it goes on from.
    QVERIFY2(warnings.size() == (stopped ? 0 : requests - 1), qPrintable(warnings.join(QLatin1Char('\n'))));
    for (const QString &line : warnings)
        QVERIFY2(line.contains(QLatin1String("from byte ")), qPrintable(line));
    if (ending == QLatin1String("whole")) {
        QVERIFY2(!download.broke(), qPrintable(download.failure().detail));
        QCOMPARE(download.received(), qint64(m_clip.size()));
        QCOMPARE(download.size(), qint64(m_clip.size()));
        QVERIFY(download.memory().holds(0, m_clip)); // nothing twice, nothing missing
        return;
    }
    QVERIFY(download.broke());
    QCOMPARE(Playback::reason(download.error()), ending);
    // What arrived before the break is kept as it was: a prefix of the clip.
    QVERIFY(download.memory().holds(0, m_clip.left(int(download.received()))));
}

void TestClipDownload::playsThrough_data()
{
    // Played as the bytes come: the listener hears the clip to its end, or
    // what arrived and then why it ended short.
    QTest::addColumn<QList<Response>>("answers");
    QTest::addColumn<QString>("error"); // empty: none
    Response whole = answer(m_clip);
    whole.ignoreRanges = true;
    Response late = answer(m_clip);
    late.delayMs = 600;
    QTest::newRow("cut at 60 %, resumed: it plays to its end") << QList<Response>{cutAt(m_clip, 0.6), late} << "";
    QTest::newRow("cut at 10 %, the whole clip again: it plays to its end") << QList<Response>{cutAt(m_clip, 0.1), whole} << "";
    Response other = answer(m_clip, "\"v2\"");
    other.ignoreRanges = true;
    QTest::newRow("another clip on the server: what arrived plays, then says so")
        << QList<Response>{cutAt(m_clip, 0.6), other} << "音频未下载完整：服务器上的音频已更改";
}

void TestClipDownload::playsThrough()
{
    QFETCH(QList<Response>, answers);
    QFETCH(QString, error);
    m_server.setResponses(kPath, answers);
    SinkRecorder recorder;
    Playback playback;
    playback.setAudioSink(SinkRecorder::sink());
    playback.setRetries({{10, 20, 40, 80}, 5});
    QSignalSpy errors(&playback, &Playback::errorOccurred);
    playback.setSource(QUrl(m_server.baseUrl() + kPath));
    QVERIFY(recorder.attach(&playback));
    playback.play();
    QTRY_VERIFY_WITH_TIMEOUT(playback.status() == Playback::Status::EndOfMedia || !errors.isEmpty(), 15000);
    const double heard = double(recorder.frames()) / std::max(1, recorder.rate());
    if (error.isEmpty()) {
        QVERIFY(errors.isEmpty());
        QVERIFY2(heard > 0.95, qPrintable(QString::number(heard)));
        return;
    }
    QCOMPARE(errors.count(), 1);
    const auto kind = errors.first().at(0).value<Playback::Error>();
    QCOMPARE(errors.first().at(2).toBool() ? QStringLiteral("音频未下载完整：") + Playback::reason(kind) : QString(), error);
    QVERIFY2(heard > 0.5 && heard < 0.65, qPrintable(QString::number(heard))); // what arrived, to its end
}

// The waits between tries are a timer's: the window's thread goes on. A
// wait taken on it would hold it for a second and a half at a time.
void TestClipDownload::waitsOffTheWindowsThread()
{
    Response nothing = answer(m_clip);
    nothing.cutAfter = 0;
    m_server.setResponses(kPath, {cutAt(m_clip, 0.5), nothing});
    QNetworkAccessManager network;
    ClipDownload download(&network, QUrl(m_server.baseUrl() + kPath), ClipDownload::defaultLimits(), {{1500}, 3});
    StallMeter meter(10);
    meter.start();
    QTRY_VERIFY_WITH_TIMEOUT(download.isFinished(), 20000);
    const qint64 stall = meter.stop();
    QVERIFY2(stall < 750, qPrintable(QStringLiteral("a 10 ms timer ran %1 ms late").arg(stall)));
}

QTEST_MAIN(TestClipDownload)
#include "tst_clipdownload.moc"
