#include "testclips.h"

#include "synthclip.h"
#include "testserver.h"

#include <QFile>

namespace TestClips {

QByteArray file(const char *name)
{
    QFile file(qEnvironmentVariable("TEST_DATA_DIR") + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void serve(TestServer &server)
{
    const QByteArray a = file("tone-a.mp3");
    const QByteArray b = file("tone-b.mp3");
    const auto respond = [&server](const char *path, const TestServer::Response &response) {
        server.setResponse(QStringLiteral("/voice/") + QLatin1String(path), response);
    };
    const auto mp3 = [](const QByteArray &body) { return TestServer::ok(body, "audio/mpeg"); };
    respond("a", mp3(a));
    respond("b", mp3(b));
    SynthClip shortTone;
    shortTone.tone(0.3, -12);
    respond("short", TestServer::ok(shortTone.wav(), "audio/wav"));
    SynthClip half;
    half.tone(0.5, -12);
    respond("half", TestServer::ok(half.wav(), "audio/wav"));
    SynthClip other;
    other.tone(0.5, -12, 660);
    respond("half2", TestServer::ok(other.wav(), "audio/wav"));
    // MP3 frames of a plain stream join up. Its server sends the whole clip
    // for every request, as some voice servers do: seeking must not depend
    // on asking it again.
    TestServer::Response whole = mp3(a.repeated(30));
    whole.ignoreRanges = true;
    respond("long", whole);
    respond("long2", mp3(b.repeated(30)));
    respond("hour", mp3(a.repeated(1240)));
    TestServer::Response slow = mp3(a.repeated(30));
    slow.delayMs = 2000;
    respond("slow", slow);
    TestServer::Response cut = mp3(a.repeated(3));
    cut.closeMidBody = true;
    cut.dropRanges = true;
    respond("cut", cut);
    TestServer::Response stalling = whole;
    stalling.pauseAfter = stalling.body.size() / 4;
    stalling.pauseMs = 4000;
    respond("stalling", stalling);
    TestServer::Response late = mp3(a.repeated(3));
    late.delayMs = 3000;
    respond("late", late);
    TestServer::Response unmeasured = mp3(a.repeated(3));
    unmeasured.noLength = true;
    respond("unmeasured", unmeasured);
    TestServer::Response halting = mp3(a.repeated(3));
    halting.pauseAfter = 8000;
    halting.pauseMs = 3000;
    respond("halting", halting);
    TestServer::Response broken = mp3(a.repeated(8));
    broken.closeMidBody = true;
    broken.dropRanges = true;
    respond("broken", broken);
    TestServer::Response quiet = mp3(a.repeated(8));
    quiet.pauseAfter = quiet.body.size() / 4;
    quiet.pauseMs = 60000;
    quiet.silentRanges = true;
    respond("quiet", quiet);
    TestServer::Response scrap;
    scrap.raw = true;
    scrap.body = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 30000\r\n\r\n" + a.left(100);
    scrap.dropRanges = true;
    respond("scrap", scrap);
    SynthClip speech;
    speech.floor(-60).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12).pause(1.0).tone(0.4, -12);
    respond("pauses", TestServer::ok(speech.wav(), "audio/wav"));
    respond("reading", TestServer::ok(SynthClip::reading(1, 16000).wav(), "audio/wav"));
    respond("amr", TestServer::ok("#!AMR\n" + QByteArray("\x3c", 1).append(31, '\x55').repeated(200), "audio/amr"));
    server.setPage(QStringLiteral("/voice/page"), "<html><body>no sound here</body></html>");
    respond("empty", TestServer::ok(QByteArray(), "audio/mpeg"));
}

} // namespace TestClips
