// The Cinepak decoder: worked pictures computed by hand, films of every
// shape through convert held byte for byte against FFmpeg's decoding of the
// same movies, and damaged frames.

#include "video/cinepak_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <stdexcept>

#include "audio/demo_stream.h"
#include "commands/convert_flow.h"
#include "support/ffmpeg_decoder.h"
#include "support/matroska_reader.h"
#include "support/temp_dir.h"
#include "video/cinepak.h"
#include "video/png_image.h"
#include "video/test_pattern.h"

namespace morvane {
namespace {

using test::Bytes;

// A frame built from its parts, every size counted: chunks in strips in a
// frame.
struct Chunk {
  int id;
  Bytes body;
};
struct Strip {
  int id;
  int top, left, bottom, right;
  std::vector<Chunk> chunks;
};

void PutBig(Bytes& out, std::size_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

Bytes CinepakFrame(int flags, int width, int height, const std::vector<Strip>& strips) {
  Bytes frame;
  frame.push_back(static_cast<unsigned char>(flags));
  PutBig(frame, 0, 3);  // the length, once known
  for (const int field : {width, height, static_cast<int>(strips.size())})
    PutBig(frame, static_cast<std::size_t>(field), 2);
  for (const Strip& strip : strips) {
    Bytes body;
    for (const Chunk& chunk : strip.chunks) {
      body.push_back(static_cast<unsigned char>(chunk.id));
      PutBig(body, 4 + chunk.body.size(), 3);
      body.insert(body.end(), chunk.body.begin(), chunk.body.end());
    }
    frame.push_back(static_cast<unsigned char>(strip.id));
    PutBig(frame, 12 + body.size(), 3);
    for (const int field : {strip.top, strip.left, strip.bottom, strip.right})
      PutBig(frame, static_cast<std::size_t>(field), 2);
    frame.insert(frame.end(), body.begin(), body.end());
  }
  for (int i = 0; i < 3; ++i)
    frame[static_cast<std::size_t>(1 + i)] = static_cast<unsigned char>(frame.size() >> (16 - 8 * i));
  return frame;
}

// Pseudo-random numbers for the made-up films.
struct Noise {
  std::uint32_t state;
  unsigned Next(unsigned below) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % below;
  }
};

// A codebook chunk of `id`: with its partial bit, each of the 256 entries
// loaded with a chance of one in `every`; without, `count` entries.
Chunk Codebook(int id, Noise& noise, std::size_t count = 256, unsigned every = 3) {
  const std::size_t entryBytes = (id & 0x04) ? 4 : 6;
  Bytes body;
  const auto entry = [&] {
    for (std::size_t i = 0; i < entryBytes; ++i) body.push_back(static_cast<unsigned char>(noise.Next(256)));
  };
  if ((id & 0x01) == 0) {
    for (std::size_t i = 0; i < count; ++i) entry();
    return {id, body};
  }
  for (std::size_t first = 0; first < 256; first += 32) {
    std::uint32_t flags = 0;
    for (int bit = 0; bit < 32; ++bit)
      if (noise.Next(every) == 0) flags |= 0x80000000u >> bit;
    PutBig(body, flags, 4);
    for (int bit = 0; bit < 32; ++bit)
      if (flags & (0x80000000u >> bit)) entry();
  }
  return {id, body};
}

// A vectors chunk of `id` for `blocks` blocks, each V1, V4 or (0x31)
// skipped at random; the flag words come where the decoder needs their
// first bit.
Chunk Vectors(int id, std::size_t blocks, Noise& noise) {
  Bytes body;
  std::size_t word = 0;
  int used = 32;
  const auto bit = [&](bool set) {
    if (used == 32) {
      word = body.size();
      PutBig(body, 0, 4);
      used = 0;
    }
    if (set)
      body[word + static_cast<std::size_t>(used / 8)] |= static_cast<unsigned char>(0x80 >> (used % 8));
    ++used;
  };
  for (std::size_t b = 0; b < blocks; ++b) {
    if (id == 0x31) {
      const bool changes = noise.Next(3) != 0;
      bit(changes);
      if (!changes) continue;
    }
    const bool v4 = id != 0x32 && noise.Next(2) == 0;
    if (id != 0x32) bit(v4);
    for (int i = 0; i < (v4 ? 4 : 1); ++i) body.push_back(static_cast<unsigned char>(noise.Next(256)));
  }
  return {id, body};
}

// A film no encoder we have makes: codebooks partly updated from frame to
// frame, grey updates into colour codebooks, strips that start below the one
// before and strips that give their place, frames whose strips start from
// their own codebooks, a strip not on the left edge.
std::vector<Bytes> MadeUpFilm(int width, int height) {
  Noise noise{7};
  const auto blocks = [](int w, int h) { return static_cast<std::size_t>(((w + 3) / 4) * ((h + 3) / 4)); };
  const int half = (height / 2 + 3) & ~3;
  std::vector<Bytes> frames;
  // A key frame of two strips, the second below the first.
  frames.push_back(CinepakFrame(
      0, width, height,
      {{0x10,
        0,
        0,
        half,
        width,
        {Codebook(0x20, noise), Codebook(0x22, noise), Vectors(0x30, blocks(width, half), noise)}},
       {0x10,
        0,
        0,
        height - half,
        width,
        {Codebook(0x20, noise, 100), Vectors(0x30, blocks(width, height - half), noise)}}}));
  for (int i = 0; i < 3; ++i) {
    // Partial updates, colour and grey, and blocks skipped.
    frames.push_back(CinepakFrame(
        0, width, height,
        {{0x11,
          0,
          0,
          half,
          width,
          {Codebook(0x21, noise), Codebook(0x27, noise), Vectors(0x31, blocks(width, half), noise)}},
         {0x11,
          half,
          0,
          height,
          width,
          {Codebook(0x25, noise), Vectors(0x31, blocks(width, height - half), noise)}}}));
  }
  // Each strip from its own codebooks; every block V1; a strip that starts
  // 8 pixels in and one whose chunks include one no decoder knows.
  frames.push_back(
      CinepakFrame(1, width, height,
                   {{0x11,
                     0,
                     8,
                     half,
                     width,
                     {Codebook(0x23, noise, 256, 2), Vectors(0x32, blocks(width - 8, half), noise)}},
                    {0x11,
                     0,
                     0,
                     height - half,
                     width,
                     {{0x41, Bytes(9, 0x55)},
                      Codebook(0x26, noise, 40),
                      Vectors(0x32, blocks(width, height - half), noise)}}}));
  return frames;
}

TEST(CinepakDecoderTest, WorkedPicturesComputedByHand) {
  struct Case {
    const char* name;
    std::vector<Strip> strips;
    std::array<std::uint32_t, 16> pixels;  // 0xRRGGBB, the 4x4 picture's rows top to bottom
  };
  // One intra strip over the whole picture.
  const auto whole = [](std::vector<Chunk> chunks) { return std::vector<Strip>{{0x10, 0, 0, 4, 4, chunks}}; };
  const auto v1 = [&](Bytes entry) { return whole({{0x22, entry}, {0x32, {0}}}); };
  const Case cases[] = {
      // Each luma of a V1 entry on 2x2 pixels. R = Y + 2V, G = Y - U/2 - V
      // with -3/2 = -1 (toward zero), B = Y + 2U: Y 100 gives 110, 96, 94.
      {"V1, U/2 toward zero",
       v1({100, 110, 120, 130, 0xFD, 5}),
       {0x6E605E, 0x6E605E, 0x786A68, 0x786A68, 0x6E605E, 0x6E605E, 0x786A68, 0x786A68,  //
        0x827472, 0x827472, 0x8C7E7C, 0x8C7E7C, 0x827472, 0x827472, 0x8C7E7C, 0x8C7E7C}},
      // U = -5, V = 10: R = Y + 20, G = Y + 2 - 10, B = Y - 10, each clamped:
      // Y 250 gives 255, 242, 240; Y 3 gives 23, 0, 0; Y 0 gives 20, 0, 0;
      // Y 255 gives 255, 247, 245.
      {"V1 clamped to 0..255",
       v1({250, 3, 0, 255, 0xFB, 10}),
       {0xFFF2F0, 0xFFF2F0, 0x170000, 0x170000, 0xFFF2F0, 0xFFF2F0, 0x170000, 0x170000,  //
        0x140000, 0x140000, 0xFFF7F5, 0xFFF7F5, 0x140000, 0x140000, 0xFFF7F5, 0xFFF7F5}},
      // Grey V4 entries, four lumas each; the block's flag bit set, then its
      // four indices (top left, top right, bottom left, bottom right).
      {"V4 grey",
       whole({{0x24, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160}},
              {0x30, {0x80, 0, 0, 0, 3, 2, 1, 0}}}),
       {0x828282, 0x8C8C8C, 0x5A5A5A, 0x646464, 0x969696, 0xA0A0A0, 0x6E6E6E, 0x787878,  //
        0x323232, 0x3C3C3C, 0x0A0A0A, 0x141414, 0x464646, 0x505050, 0x1E1E1E, 0x282828}},
  };
  for (const Case& c : cases) {
    CinepakDecoder decoder(4, 4);
    const Bytes frame = CinepakFrame(0, 4, 4, c.strips);
    EXPECT_EQ("", decoder.Decode(frame.data(), frame.size())) << c.name;
    Bytes wanted;
    for (const std::uint32_t pixel : c.pixels)
      for (const int shift : {16, 8, 0}) wanted.push_back(static_cast<unsigned char>(pixel >> shift));
    EXPECT_EQ(wanted, decoder.Rgb()) << c.name;
    EXPECT_TRUE(decoder.HasKeyFrame()) << c.name;
  }
}

class TellingSink : public BatchSink {
 public:
  void Start(std::size_t, const std::string&) override {}
  void Wrote(const std::string& path) override { written.push_back(path); }
  void Tell(const std::string& name, const std::string& text) override { told += name + ": " + text + "\n"; }
  std::vector<std::string> written;
  std::string told;
};

// Films of every shape, one after another in one stream, converted; each
// movie's frames decoded by us and by FFmpeg.
TEST(CinepakDecoderTest, EveryFrameOfFilmsOfEveryShapeEqualsFfmpegsDecodingOfTheMovie) {
  struct Shape {
    std::string name;
    int width, height;  // the film header's
    std::vector<Bytes> frames;
  };
  std::vector<Shape> shapes;
  std::string skipped;
  const auto ffmpeg = [&](const std::string& name, const std::string& source, const std::string& options,
                          int count, int width, int height) {
    test::FfmpegDecoding encoded = test::EncodeCinepakWithFfmpeg(source, options, count);
    if (!encoded.skipReason.empty()) {
      skipped = encoded.skipReason;
      return;
    }
    EXPECT_EQ("", encoded.messages) << name;
    EXPECT_EQ(static_cast<std::size_t>(count), encoded.pictures.size()) << name;
    shapes.push_back({name, width, height, encoded.pictures});
  };
  ffmpeg("one strip, every frame a key frame", "testsrc2=size=320x240:rate=15", "-g 1 -max_strips 1", 4, 320,
         240);
  ffmpeg("up to three strips, difference frames with skipped blocks", "testsrc2=size=320x240:rate=15",
         "-g 8 -max_strips 3", 12, 320, 240);
  ffmpeg("eight strips", "testsrc2=size=320x240:rate=15", "-g 6 -min_strips 8 -max_strips 8", 8, 320, 240);
  ffmpeg("grey", "testsrc2=size=160x120:rate=15,format=gray", "-g 5", 8, 160, 120);
  ffmpeg("a strip over 64 KiB", "testsrc2=size=640x480:rate=15,noise=alls=60:allf=t", "-g 2 -max_strips 1", 3,
         640, 480);
  ffmpeg("a film of 162x122 in blocks of 164x124", "testsrc2=size=164x124:rate=15", "-g 4", 6, 162, 122);
  if (!skipped.empty()) GTEST_SKIP() << skipped;
  ASSERT_GT(shapes[4].frames[0].size(), 10 + 65536u);
  shapes.push_back({"partial codebooks, grey updates, placed strips", 96, 72, MadeUpFilm(96, 72)});
  shapes.push_back({"a film with an odd size and made-up strips", 90, 70, MadeUpFilm(92, 72)});

  test::TempDir dir;
  test::StreamBuilder stream;
  for (const Shape& shape : shapes) {
    stream.Fhdr({.width = shape.width,
                 .height = shape.height,
                 .frameCount = static_cast<std::int32_t>(shape.frames.size())});
    for (std::size_t i = 0; i < shape.frames.size(); ++i) {
      const Bytes& frame = shape.frames[i];
      const bool key = frame[10] == 0x10;
      stream.FilmFrame({.data = frame,
                        .time = static_cast<std::int32_t>(16 * i),
                        .duration = 16,
                        .kind = key ? "FRME" : "DFRM"});
    }
  }
  const std::string path = dir.Write("shapes.str", stream.bytes());
  // And the demo's film.
  DemoStreamOptions demo;
  demo.seconds = 1.5;
  std::ostringstream demoBytes;
  WriteDemoStream(demo, demoBytes);
  const std::string text = demoBytes.str();
  const std::string demoPath = dir.Write("demo.str", Bytes(text.begin(), text.end()));
  shapes.push_back({"the demo's film", demo.film.width, demo.film.height, {}});

  TellingSink sink;
  ConvertSettings settings;
  EXPECT_TRUE(RunConvert({path, demoPath}, settings, sink).whole) << sink.told;

  for (std::size_t n = 0; n < shapes.size(); ++n) {
    const Shape& shape = shapes[n];
    SCOPED_TRACE(shape.name);
    const std::string movie =
        n + 1 < shapes.size() ? path + std::to_string(n) + ".film.mkv" : demoPath + "0.film.mkv";
    const test::MkvFile file = test::ReadMatroska(test::ReadAll(movie));
    const std::vector<const test::MkvBlock*> blocks = file.BlocksOf(1);
    if (!shape.frames.empty()) {
      ASSERT_EQ(shape.frames.size(), blocks.size());
    }
    const test::FfmpegDecoding reference = test::DecodeFileFrames(movie, shape.width, shape.height);
    EXPECT_EQ("", reference.messages);
    ASSERT_EQ(blocks.size(), reference.pictures.size());
    CinepakDecoder decoder(shape.width, shape.height);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ("", decoder.Decode(blocks[i]->data.data(), blocks[i]->data.size()));
      ASSERT_EQ(reference.pictures[i], decoder.Rgb())
          << "frame " << i << ": " << test::PeakSignalToNoise(reference.pictures[i], decoder.Rgb()) << " dB";
    }
  }
}

TEST(CinepakDecoderTest, DamagedFramesDecodeWhatTheyCanAndNameTheFrame) {
  Noise noise{99};
  const Bytes key = CinepakFrame(
      0, 16, 16,
      {{0x10, 0, 0, 16, 16, {Codebook(0x20, noise), Codebook(0x22, noise), Vectors(0x30, 16, noise)}}});
  const Bytes inter =
      CinepakFrame(0, 16, 16, {{0x11, 0, 0, 16, 16, {Codebook(0x21, noise), Vectors(0x31, 16, noise)}}});
  CinepakDecoder whole(16, 16);
  ASSERT_EQ("", whole.Decode(key.data(), key.size()));
  const Bytes keyPicture = whole.Rgb();
  ASSERT_EQ("", whole.Decode(inter.data(), inter.size()));
  const Bytes interPicture = whole.Rgb();

  Bytes stripTooLong = key;
  stripTooLong[12] = 0xFF;  // its size's middle byte
  Bytes chunkTooShort = key;
  chunkTooShort[22 + 1] = 0, chunkTooShort[22 + 2] = 0, chunkTooShort[22 + 3] = 2;
  Bytes outside = key;
  outside[10 + 10] = 0, outside[10 + 11] = 20;  // right edge 20
  struct Case {
    const char* name;
    Bytes frame;
    std::string told;  // a piece of what Decode gives
    bool keyFirst;     // the key frame decoded before it
    const Bytes* sameAs;
  };
  const Case cases[] = {
      {"shorter than a frame header", Bytes(key.begin(), key.begin() + 9), "frame 2: 9 bytes, shorter", true,
       &keyPicture},
      {"cut inside its vectors", Bytes(key.begin(), key.end() - 3), "frame 2: strip 1 of 1: its vectors end",
       true, nullptr},
      {"cut inside a strip header", Bytes(key.begin(), key.begin() + 15), "runs past the frame's end", true,
       &keyPicture},
      {"a strip size past the frame", stripTooLong, "frame 2: strip 1 of 1 runs past the frame's end", true,
       &keyPicture},
      {"a chunk size below its header", chunkTooShort, "a chunk gives its size as 2 bytes", true,
       &keyPicture},
      {"a strip outside the picture", outside, "is not inside the 16x16 picture", true, &keyPicture},
      {"a difference frame before any key frame", inter, "frame 1: a difference frame before any key frame",
       false, nullptr},
  };
  for (const Case& c : cases) {
    CinepakDecoder decoder(16, 16);
    if (c.keyFirst) decoder.Decode(key.data(), key.size());
    const std::string told = decoder.Decode(c.frame.data(), c.frame.size());
    EXPECT_NE(std::string::npos, told.find(c.told)) << c.name << ": " << told;
    if (c.sameAs) {
      EXPECT_EQ(*c.sameAs, decoder.Rgb()) << c.name;
    }
  }
  // A frame cut in its vectors keeps the rows drawn before the cut.
  CinepakDecoder cut(16, 16);
  const Bytes first = Bytes(key.begin(), key.end() - 3);
  cut.Decode(first.data(), first.size());
  EXPECT_TRUE(std::equal(keyPicture.begin(), keyPicture.begin() + 3 * 16 * 12, cut.Rgb().begin()));
  EXPECT_FALSE(cut.HasKeyFrame());

  for (const auto& [width, height] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {2049, 4}, {4, 2049}})
    EXPECT_THROW(CinepakDecoder(width, height), std::invalid_argument) << width << "x" << height;
  EXPECT_EQ(interPicture.size(), 3u * 16 * 16);
}

// Posters: what FFmpeg reads back from our PNGs, CRCs checked, is the
// picture; pictures of repeated blocks come out a fraction of their size.
TEST(PngImageTest, FfmpegReadsBackEveryPictureAndBlocksCompress) {
  struct Case {
    const char* name;
    int width, height;
    Bytes rgb;
    double mostOfRaw;  // the PNG's size at most, as a share of the raw picture
  };
  Noise noise{5};
  Bytes noisy(3 * 37 * 13);
  for (unsigned char& byte : noisy) byte = static_cast<unsigned char>(noise.Next(256));
  CinepakDecoder film(320, 240);
  const Bytes pattern = TestPatternPicture(3, 320, 240);
  const Bytes frame = EncodeCinepakKeyFrame(pattern.data(), 320, 240);
  film.Decode(frame.data(), frame.size());
  Bytes wide(3 * 11000 * 2);  // rows longer than deflate's window
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<unsigned char>(i / 3 % 251);
  const Case cases[] = {
      {"one pixel", 1, 1, {200, 100, 50}, 100},
      {"noise", 37, 13, noisy, 1.2},
      {"a decoded Cinepak frame", 320, 240, film.Rgb(), 0.25},
      {"rows of 33000 bytes", 11000, 2, wide, 0.2},
  };
  test::TempDir dir;
  std::string skipped;
  for (const Case& c : cases) {
    const Bytes png = EncodePng(c.rgb.data(), c.width, c.height);
    EXPECT_LE(static_cast<double>(png.size()), c.mostOfRaw * static_cast<double>(c.rgb.size())) << c.name;
    const test::FfmpegDecoding read =
        test::DecodeFileFrames(dir.Write("p.png", png), c.width, c.height, "-err_detect crccheck+explode");
    if (!read.skipReason.empty()) {
      skipped = read.skipReason;
      continue;
    }
    EXPECT_EQ("", read.messages) << c.name;
    ASSERT_EQ(1u, read.pictures.size()) << c.name;
    EXPECT_EQ(c.rgb, read.pictures[0]) << c.name;
  }
  EXPECT_THROW(EncodePng(noisy.data(), 0, 1), std::invalid_argument);
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
}  // namespace morvane
