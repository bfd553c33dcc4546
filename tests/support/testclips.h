#ifndef TESTCLIPS_H
#define TESTCLIPS_H

#include <QByteArray>

class TestServer;

// The clips the player's tests play, served under /voice/, each with the
// way its server behaves:
//   a, b        3 s tones (tone-a.mp3, tone-b.mp3), at once
//   short       0.3 s, for a next clip no row listens to
//   half, half2 0.5 s, for rows that follow clips to their end
//   long        about 90 s, the whole clip for every request (no ranges)
//   long2       about 90 s of tone-b
//   hour        about an hour
//   slow        the long clip, answered after 2 s
//   late        9 s, answered after 3 s
//   unmeasured  9 s, without a length
//   halting     9 s: its first 2 s, then nothing for 3 s
//   stalling    the long clip: its first quarter, then nothing for 4 s
//   cut         9 s, of which half arrives before the connection is gone
//   broken      24 s, of which half arrives before the connection is gone
//   quiet       24 s, of which a quarter arrives, then nothing for a minute
//   scrap       less than a frame, then the connection is gone
// and the last four never answer a request for the rest: the connection
// is gone again, or (quiet) the server stays silent.
//   pauses      words and pauses (WAV), for smart speed
//   reading     a minute of words and pauses (WAV)
//   amr         WeChat's own voice format, which GStreamer cannot decode
//   page        a web page; empty: an empty body
namespace TestClips {

constexpr double kToneHz = 440;     // tone-a.mp3
constexpr float kTonePeak = 0.479f; // its loudest sample

// A file of tests/data.
QByteArray file(const char *name);
void serve(TestServer &server);

} // namespace TestClips

#endif // TESTCLIPS_H
