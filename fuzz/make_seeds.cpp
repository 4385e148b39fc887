// Writes the seed corpora of the fuzz targets, built with the test helpers:
// make_seeds <folder> fills <folder>/analysis, <folder>/map_walk,
// <folder>/wav_conversion, <folder>/demux and <folder>/cinepak. Nothing binary is kept in the tree; the seeds
// are made afresh for every run.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace {

using morvane::test::AppendBigEndian32;
using morvane::test::AppendId;
using morvane::test::AppendLittleEndian32;
using morvane::test::Bytes;
using morvane::test::Concat;
using morvane::test::PatternBytes;
using morvane::test::StreamBuilder;

void Save(const std::filesystem::path& folder, int number, const Bytes& bytes) {
  char name[32];
  std::snprintf(name, sizeof name, "seed-%03d", number);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

StreamBuilder::Header HeaderAt(std::int32_t rate, std::int32_t stream) {
  StreamBuilder::Header header;
  header.sampleRate = rate;
  header.stream = stream;
  header.samples = 1000;
  return header;
}

// Sound streams as such files lay them out: a header chunk, then data chunks
// with film and filler chunks between, and a few other kinds.
Bytes RealisticStream() {
  StreamBuilder s;
  s.Chunk("CTRL", 16, PatternBytes(8, 1));
  s.Shdr(HeaderAt(22050, 0));
  for (int i = 0; i < 4; ++i) {
    s.Sized("FILM", PatternBytes(24, 10 + i));
    s.Ssmp(PatternBytes(40 + 7 * i, 20 + i), i, 0);
    s.Sized("FILL", Bytes(12, 0));
  }
  s.Shdr(HeaderAt(44100, 1));
  s.Ssmp(PatternBytes(64, 30), 5, 1);
  s.Sized("SSND", PatternBytes(16, 31));
  s.Sized("EZFL", {});
  s.Ssmp(PatternBytes(33, 32), 6, 1);
  s.Sized("JOIN", PatternBytes(4, 33));
  return s.bytes();
}

Bytes IffAudioFile() {
  Bytes b;
  AppendId(b, "FORM");
  AppendBigEndian32(b, 46);
  AppendId(b, "AIFC");
  AppendId(b, "FVER");
  AppendBigEndian32(b, 4);
  AppendBigEndian32(b, 0);
  AppendId(b, "COMM");
  AppendBigEndian32(b, 24);
  b.resize(42, 0);
  b.push_back(0xAC);  // 44100 in the first two bytes of the rate's mantissa
  b.push_back(0x44);
  b.resize(50, 0);
  AppendId(b, "SDX2");
  return b;
}

// The map the analysis writes for a stream of well-formed chunks.
Bytes MapOf(const Bytes& stream) {
  Bytes map;
  std::size_t at = 0;
  const auto big = [&](std::size_t offset) {
    return static_cast<std::int32_t>(
        (std::uint32_t{stream[offset]} << 24) | (std::uint32_t{stream[offset + 1]} << 16) |
        (std::uint32_t{stream[offset + 2]} << 8) | std::uint32_t{stream[offset + 3]});
  };
  while (at + 8 <= stream.size()) {
    const std::int32_t size = big(at + 4);
    if (std::memcmp(&stream[at], "SNDS", 4) == 0) {
      AppendId(map, "SNDS");
      AppendLittleEndian32(map, size);
      if (std::memcmp(&stream[at + 16], "SSMP", 4) == 0) {
        AppendId(map, "SSMP");
        AppendLittleEndian32(map, static_cast<std::int32_t>(at + 24));
        AppendLittleEndian32(map, big(at + 20));
      } else if (std::memcmp(&stream[at + 16], "SHDR", 4) == 0) {
        AppendId(map, "SHDR");
        for (std::size_t field : {1, 2, 3, 5, 6, 7}) AppendLittleEndian32(map, big(at + 20 + 4 * field));
        map.insert(map.end(), stream.begin() + static_cast<long>(at + 52),
                   stream.begin() + static_cast<long>(at + 56));
        AppendLittleEndian32(map, big(at + 56));
        AppendLittleEndian32(map, big(at + 60));
      }
    } else if (std::memcmp(&stream[at], "SSND", 4) == 0) {
      AppendId(map, "SSND");
      AppendLittleEndian32(map, size);
      AppendLittleEndian32(map, static_cast<std::int32_t>(at + 8));
    }
    if (size < 1) break;
    at += static_cast<std::size_t>(size);
  }
  return map;
}

Bytes ShdrRecord() { return morvane::test::MapBuilder().Shdr().bytes(); }
Bytes SsmpRecord(std::int32_t position, std::int32_t length) {
  return morvane::test::MapBuilder().Ssmp(position, length).bytes();
}

// A map-walk input: STOP byte, map length, map, stream.
Bytes WalkInput(std::uint8_t stopAfterPump, const Bytes& map, const Bytes& stream) {
  Bytes input = {stopAfterPump, static_cast<unsigned char>(map.size()),
                 static_cast<unsigned char>(map.size() >> 8)};
  input.insert(input.end(), map.begin(), map.end());
  input.insert(input.end(), stream.begin(), stream.end());
  return input;
}

// A conversion input: text length and PLAY bit, the rate text, the sound file.
Bytes WavInput(const std::string& rate, bool play, const Bytes& sound) {
  Bytes input = {static_cast<unsigned char>(rate.size() | (play ? 0x80 : 0))};
  input.insert(input.end(), rate.begin(), rate.end());
  input.insert(input.end(), sound.begin(), sound.end());
  return input;
}

}  // namespace

// A Cinepak frame of one strip over the picture: a codebook chunk of
// `book` (full: 32 entries; partial: a flag word for the first 32), then a
// vectors chunk of `vectors` whose flag words ask for V1, V4 and skipped
// blocks in turn.
Bytes CinepakFrame(int width, int height, int strip, int book, int vectors, std::uint32_t seed) {
  const auto put = [](Bytes& out, std::size_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  Bytes codebook;
  if (book & 1) put(codebook, 0xA5A5A5A5u, 4);
  const Bytes entries = PatternBytes(32 * ((book & 4) ? 4 : 6), seed);
  codebook.insert(codebook.end(), entries.begin(), entries.end());
  Bytes indices;
  const std::size_t blocks = static_cast<std::size_t>(width / 4 * height / 4);
  for (std::size_t first = 0; first < blocks; first += 16) {
    if (vectors != 0x32) put(indices, vectors == 0x31 ? 0xD2D2D2D2u : 0x55555555u, 4);
    const Bytes picks = PatternBytes(40, seed + static_cast<std::uint32_t>(first));
    indices.insert(indices.end(), picks.begin(), picks.end());
  }
  Bytes frame = {0};
  put(frame, 0, 3);
  for (const int field : {width, height, 1}) put(frame, static_cast<std::size_t>(field), 2);
  frame.push_back(static_cast<unsigned char>(strip));
  put(frame, 12 + 8 + codebook.size() + indices.size(), 3);
  for (const int field : {0, 0, height, width}) put(frame, static_cast<std::size_t>(field), 2);
  frame.push_back(static_cast<unsigned char>(book));
  put(frame, 4 + codebook.size(), 3);
  frame.insert(frame.end(), codebook.begin(), codebook.end());
  frame.push_back(static_cast<unsigned char>(vectors));
  put(frame, 4 + indices.size(), 3);
  frame.insert(frame.end(), indices.begin(), indices.end());
  for (int i = 0; i < 3; ++i)
    frame[static_cast<std::size_t>(1 + i)] = static_cast<unsigned char>(frame.size() >> (16 - 8 * i));
  return frame;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path top = argv[1];
  const auto analysis = top / "analysis", walk = top / "map_walk", wav = top / "wav_conversion",
             demux = top / "demux";
  for (const auto& folder : {analysis, walk, wav, demux}) std::filesystem::create_directories(folder);

  const Bytes realistic = RealisticStream();
  Bytes truncated(realistic.begin(), realistic.end() - 5);
  Bytes cutInFields = StreamBuilder().Shdr(HeaderAt(22050, 0)).bytes();
  cutInFields.resize(40);
  std::vector<Bytes> streams = {
      realistic,
      IffAudioFile(),
      truncated,
      cutInFields,
      {},
      StreamBuilder().Raw({'S', 'N', 'D'}).bytes(),
      StreamBuilder().Sized("FILM", Bytes(8, 0)).Raw({'F', 'I', 'L', 'L'}).bytes(),
      StreamBuilder().Ssmp(PatternBytes(16, 2)).Chunk("FILL", 0).Ssmp(PatternBytes(8, 3)).bytes(),
      StreamBuilder().Ssmp(PatternBytes(16, 4)).Chunk("FILL", -64).bytes(),
      StreamBuilder().Ssmp(PatternBytes(16, 5)).Chunk("FILL", 0x7FFFFFF0).bytes(),
      StreamBuilder()
          .Chunk("SNDS", 20, {0, 0, 0, 0, 0, 0, 0, 0, 'S', 'S', 'M', 'P'})
          .Ssmp(Bytes(4, 9))
          .bytes(),
      StreamBuilder()
          .Chunk("SNDS", 20, {0, 0, 0, 1, 0, 0, 0, 2, 'X', 'Y', 'Z', 'W'})
          .Sized("SSND", {})
          .bytes(),
  };
  int number = 0;
  for (const Bytes& stream : streams) Save(analysis, number++, stream);

  // The converter: an options byte, then a stream or FORM file.
  StreamBuilder::Header mono = HeaderAt(11025, 1);
  mono.channels = 1;
  StreamBuilder::Header raw = HeaderAt(22050, 2);
  raw.compressionType = "NONE";
  std::vector<Bytes> demuxFiles = streams;
  demuxFiles.push_back(StreamBuilder()
                           .Shdr(HeaderAt(22050, 0))
                           .Shdr(mono)
                           .Ssmp(PatternBytes(33, 20), 0, 0)
                           .Ssmp(PatternBytes(20, 21), 0, 1)
                           .Ssmp(PatternBytes(31, 22), 0, 0)
                           .Shdr(raw)
                           .Ssmp(PatternBytes(10, 23), 0, 2)
                           .bytes());
  // Every codec: CBD2 stereo, ADP4 mono, uncompressed 8-bit mono, a type no
  // codec knows; then headers that draw their types (0 to 7) and sizes.
  const auto coded = [](const char* type, std::int32_t channels, std::int32_t bits) {
    StreamBuilder::Header header = HeaderAt(22050, 0);
    header.compressionType = std::string(type, 4);
    header.channels = channels;
    header.sampleSize = bits;
    return header;
  };
  StreamBuilder::Header cbd2 = coded("CBD2", 2, 16), adp4 = coded("ADP4", 1, 4), eight = coded("NONE", 1, 8),
                        other = coded("MAC3", 2, 16);
  adp4.stream = 1;
  eight.stream = 2;
  other.stream = 3;
  demuxFiles.push_back(StreamBuilder()
                           .Shdr(cbd2)
                           .Shdr(adp4)
                           .Ssmp(PatternBytes(33, 40), 0, 0)
                           .Ssmp(PatternBytes(20, 41), 0, 1)
                           .Shdr(eight)
                           .Ssmp(PatternBytes(15, 42), 0, 2)
                           .Shdr(other)
                           .Ssmp(PatternBytes(12, 43), 0, 3)
                           .bytes());
  StreamBuilder drawn;
  for (std::int32_t type = 0; type < 8; ++type) {
    StreamBuilder::Header header = coded("SDX2", 1 + type % 2, 16);
    header.compressionType = std::string{static_cast<char>(type), static_cast<char>(type), 0, 0};
    drawn.Shdr(header).Ssmp(PatternBytes(17 + static_cast<std::size_t>(type), 50 + type));
  }
  demuxFiles.push_back(drawn.bytes());
  // Films: one with its sound met before its first frame and beside it,
  // difference frames and a key flag; two at once on two channels with two
  // sounds; one whose sound comes after it.
  using morvane::test::CinepakLikeFrame;
  demuxFiles.push_back(
      StreamBuilder()
          .Fhdr({.frameCount = 3})
          .Shdr(HeaderAt(22050, 0))
          .Ssmp(PatternBytes(41, 26), 0, 0)
          .FilmFrame({.data = CinepakLikeFrame(true, 2, 8, 1), .time = 4})
          .Ssmp(PatternBytes(30, 27), 20, 0x10000)
          .FilmFrame({.data = CinepakLikeFrame(false, 1, 6, 2), .time = 20, .kind = "DFRM"})
          .FilmFrame({.data = CinepakLikeFrame(false, 1, 6, 3), .time = 36, .word = 0x10000, .padding = 3})
          .Ssmp(PatternBytes(12, 28), 60, 0)
          .bytes());
  demuxFiles.push_back(StreamBuilder()
                           .Fhdr({.frameCount = 2})
                           .Fhdr({.compression = "rle ", .frameCount = 0, .word = 1})
                           .Shdr(HeaderAt(22050, 0))
                           .Shdr(mono)
                           .Ssmp(PatternBytes(20, 29), 0, 1)
                           .FilmFrame({.data = CinepakLikeFrame(true, 1, 4, 4), .time = 0, .word = 1})
                           .FilmFrame({.data = CinepakLikeFrame(true, 1, 4, 5), .time = 0})
                           .Ssmp(PatternBytes(21, 30), 10, 0)
                           .FilmFrame({.data = CinepakLikeFrame(true, 1, 4, 6), .time = 16})
                           .FilmFrame({.data = PatternBytes(9, 7), .time = 16, .word = 1})
                           .bytes());
  demuxFiles.push_back(
      morvane::test::IffAudioFile({.channels = 1, .rate = 44100, .data = PatternBytes(50, 24)}));
  demuxFiles.push_back(morvane::test::IffAudioFile({.formType = "AIFF", .data = PatternBytes(16, 25)}));
  number = 0;
  for (const Bytes& file : demuxFiles) {
    for (const std::uint8_t options : {0x00, 0x03 | (30 << 2)}) {
      Bytes input = {options};
      input.insert(input.end(), file.begin(), file.end());
      Save(demux, number++, input);
    }
  }

  const Bytes map = MapOf(realistic);
  Bytes ssndOnly;
  for (int i = 0; i < 3; ++i) {
    AppendId(ssndOnly, "SSND");
    AppendLittleEndian32(ssndOnly, 16);
    AppendLittleEndian32(ssndOnly, 8 + 16 * i);
  }
  const Bytes data = PatternBytes(120, 7);
  std::vector<Bytes> walks = {
      WalkInput(0, map, realistic),
      WalkInput(3, map, realistic),
      WalkInput(0, Bytes(map.begin(), map.begin() + 45), realistic),
      WalkInput(0,
                Concat({ShdrRecord(), SsmpRecord(0, 0), SsmpRecord(0, 5), SsmpRecord(5, 10),
                        SsmpRecord(15, 25), SsmpRecord(40, 30), ShdrRecord(), SsmpRecord(70, 50)}),
                data),
      WalkInput(0, Concat({SsmpRecord(0, 4), ShdrRecord()}), data),
      WalkInput(0, Concat({ShdrRecord(), SsmpRecord(100, 40)}), data),
      WalkInput(0, Concat({ShdrRecord(), SsmpRecord(-1, 4)}), data),
      WalkInput(0, Concat({ShdrRecord(), SsmpRecord(10, -7), ssndOnly}), data),
      WalkInput(0, Concat({ShdrRecord(), Bytes{'S', 'H', 'D', 'R'}}), data),
      WalkInput(0, Concat({ShdrRecord(), Bytes{'S', 'S', 'M', 'P', 0, 0, 0, 0}}), data),
      WalkInput(0, ssndOnly, data),
      WalkInput(0, {}, data),
  };
  number = 0;
  for (const Bytes& input : walks) Save(walk, number++, input);

  Bytes worked(140, 0);
  worked.push_back(0x10);
  worked.push_back(0x20);
  Bytes music = Concat({Bytes(140, 0), PatternBytes(400, 11)});
  std::vector<Bytes> conversions = {
      WavInput("22050", false, worked),
      WavInput("44100", true, music),
      WavInput("-1", false, Bytes(140, 0)),
      WavInput("", true, PatternBytes(100, 12)),
      WavInput("441x", false, Concat({Bytes(140, 0), PatternBytes(5, 13)})),
      WavInput("+7", false, Concat({Bytes(140, 0), Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x00, 0x80}})),
      WavInput(" 123", false, music),
      WavInput("99999", true, Concat({Bytes(140, 0), Bytes{0x80, 0x80, 0x7E, 0x7E, 0xFF, 0x01}})),
  };
  number = 0;
  for (const Bytes& input : conversions) Save(wav, number++, input);

  // The Cinepak decoder: a size, then frames behind their 2-byte lengths.
  const auto cinepak = top / "cinepak";
  std::filesystem::create_directories(cinepak);
  const auto films = [](int width, int height, const std::vector<Bytes>& frames) {
    Bytes input = {static_cast<unsigned char>(width - 1), static_cast<unsigned char>(height - 1)};
    for (const Bytes& frame : frames) {
      input.push_back(static_cast<unsigned char>(frame.size() >> 8));
      input.push_back(static_cast<unsigned char>(frame.size()));
      input.insert(input.end(), frame.begin(), frame.end());
    }
    return input;
  };
  const std::vector<Bytes> cinepakInputs = {
      films(16, 16, {CinepakFrame(16, 16, 0x10, 0x20, 0x30, 41), CinepakFrame(16, 16, 0x11, 0x21, 0x31, 42)}),
      films(13, 7, {CinepakFrame(16, 8, 0x10, 0x24, 0x30, 43), CinepakFrame(16, 8, 0x11, 0x27, 0x32, 44)}),
      films(8, 8, {CinepakFrame(8, 8, 0x11, 0x23, 0x31, 45)}),
      films(16, 16, {morvane::test::CinepakLikeFrame(true, 3, 8, 46)}),
  };
  number = 0;
  for (const Bytes& input : cinepakInputs) Save(cinepak, number++, input);
  return 0;
}
