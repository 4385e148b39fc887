// Writes the streams the browser tests drop on the page, one of each shape
// the command line's tests use, into the folder given.

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/film_stream.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"

namespace {

using morvane::test::Bytes;
using morvane::test::Header;
using morvane::test::PatternBytes;
using morvane::test::StreamBuilder;

std::vector<std::pair<std::string, Bytes>> Streams() {
  StreamBuilder interleaved;
  interleaved.Shdr(Header(0, 22050)).Shdr(Header(1, 11025, 1));
  for (std::uint32_t block = 0; block < 40; ++block) {
    interleaved.Sized("FILM", Bytes(300, 0))
        .Ssmp(PatternBytes(2000, block), 0, static_cast<std::int32_t>(block % 2));
  }
  const Bytes whole = StreamBuilder()
                          .Shdr(Header(0, 22050))
                          .Ssmp(PatternBytes(30000, 7))
                          .Sized("CTRL", Bytes(16, 0))
                          .Ssmp(PatternBytes(30000, 8))
                          .bytes();
  // Long enough for the page to read it in many windows: data blocks that
  // straddle the windows' ends, and a film chunk too long to read through,
  // over which the reading starts again behind it.
  StreamBuilder windows;
  windows.Shdr(Header(0, 22050));
  for (std::uint32_t block = 0; block < 2500; ++block) {
    windows.Sized("FILM", Bytes(1000 + block % 7, 0)).Ssmp(PatternBytes(4000 + 2 * (block % 5), block));
  }
  windows.Sized("FILM", Bytes(40 * 1024 * 1024, 0)).Ssmp(PatternBytes(100000, 11));
  // Films: two at once beside two sounds, one of a codec no common player
  // knows, and one cut short in a frame.
  const auto films = [](const morvane::test::FilmStreamOptions& options) {
    Bytes bytes;
    morvane::test::WriteFilmStream(options, [&bytes](const unsigned char* data, std::size_t count) {
      bytes.insert(bytes.end(), data, data + count);
    });
    return bytes;
  };
  morvane::test::FilmStreamOptions together;
  together.together = true;
  StreamBuilder otherCodec;
  otherCodec.Shdr(Header(0, 22050)).Fhdr({.compression = "smc ", .frameCount = 3});
  for (std::int32_t frame = 0; frame < 3; ++frame) {
    otherCodec.FilmFrame({.data = PatternBytes(900, 20 + frame), .time = 20 * frame, .padding = 3})
        .Ssmp(PatternBytes(1764, 30 + frame), 20 * frame);
  }
  const Bytes filmCut = films({.seconds = 1.0, .films = 1});
  morvane::test::IffAudio aifc;
  aifc.data = PatternBytes(44100, 9);
  // Every codec, two of them interleaved; the last 8-bit of an odd length.
  StreamBuilder::Header eight = Header(3, 8000, 1, "NONE");
  eight.sampleSize = 8;
  const Bytes codecs = StreamBuilder()
                           .Shdr(Header(0, 22050, 2, "CBD2"))
                           .Shdr(Header(1, 11025, 1, "ADP4"))
                           .Ssmp(PatternBytes(8000, 40), 0, 0)
                           .Ssmp(PatternBytes(3000, 41), 0, 1)
                           .Ssmp(PatternBytes(8000, 42), 0, 0)
                           .Shdr(Header(2, 22050, 2, "NONE"))
                           .Ssmp(PatternBytes(6000, 43), 0, 2)
                           .Shdr(eight)
                           .Ssmp(PatternBytes(4001, 44), 0, 3)
                           .bytes();
  return {
      {"interleaved.str", interleaved.bytes()},
      {"mono.str", StreamBuilder().Shdr(Header(0, 44100, 1)).Ssmp(PatternBytes(50000, 3)).bytes()},
      {"unknown compression.str", StreamBuilder()
                                      .Shdr(Header(0, 22050, 2, "ADP4"))
                                      .Ssmp(PatternBytes(4000, 4))
                                      .Shdr(Header(1, 8000))
                                      .Ssmp(PatternBytes(6000, 5), 0, 1)
                                      .bytes()},
      {"cut.str", Bytes(whole.begin(), whole.end() - 12345)},
      {"sound.aifc", morvane::test::IffAudioFile(aifc)},
      {"picture.png", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'}},
      {"Kühe im Schnee.str", whole},
      {"windows.str", windows.bytes()},
      {"two films.str", films(together)},
      {"other codec.str", otherCodec.bytes()},
      {"film cut.str", Bytes(filmCut.begin(), filmCut.end() - 1500)},
      // 440 Hz at the even offsets of each pair, 660 Hz at the odd ones.
      {"left and right.str", StreamBuilder()
                                 .Shdr(Header(0, 22050))
                                 .Ssmp(morvane::test::TwoToneSdx2(440, 660, 22050, 11025))
                                 .bytes()},
      {"every codec.str", codecs},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_web_streams FOLDER\n");
    return 2;
  }
  for (const auto& [name, bytes] : Streams()) {
    std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::perror(name.c_str());
      return 1;
    }
  }
  return 0;
}
