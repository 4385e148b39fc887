#include "video/cinepak.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/ffmpeg_decoder.h"
#include "video/film_codec.h"
#include "video/test_pattern.h"

namespace morvane {
namespace {

using test::Bytes;

void Put16(Bytes& out, int value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value));
}

// A frame header (its length field left 0) and strips of the given id
// bytes, each with `body` bytes after its header; `sizeDelta` is added to
// the last strip's size field (24 bits after the id).
Bytes Frame(int stripCount, const std::vector<int>& ids, int body = 8, int sizeDelta = 0) {
  Bytes frame = {0, 0, 0, 0};
  for (const int field : {16, 16, stripCount}) Put16(frame, field);  // width, height
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const int size = 12 + body + (i + 1 == ids.size() ? sizeDelta : 0);
    frame.push_back(static_cast<unsigned char>(ids[i]));
    frame.push_back(static_cast<unsigned char>(size >> 16));
    Put16(frame, size & 0xFFFF);
    for (const int field : {0, 0, 16, 16}) Put16(frame, field);
    frame.insert(frame.end(), static_cast<std::size_t>(body), 0x22);
  }
  return frame;
}

// Pictures of several kinds, made from integers alone.
Bytes Picture(const std::string& kind, int width, int height) {
  if (kind == "pattern") return TestPatternPicture(7, width, height);
  Bytes rgb(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      std::uint32_t colour = noise >> 8;  // 0xRRGGBB
      if (kind == "smooth") {             // crossing ramps: every patch differs
        colour = static_cast<std::uint32_t>((x * 255 / width) << 16 | (y * 255 / height) << 8 |
                                            (x + y) * 255 / (width + height));
      } else if (kind == "tiles") {  // each 4x4 block one colour, more colours than a codebook holds
        colour = static_cast<std::uint32_t>((y / 4) * (width / 4) + x / 4) * 2654435761u >> 8;
      }
      for (int i = 0; i < 3; ++i)
        rgb[3 * (static_cast<std::size_t>(y) * width + x) + i] =
            static_cast<unsigned char>(colour >> (16 - 8 * i));
    }
  }
  return rgb;
}

TEST(CinepakTest, IntraFramesAreFramesWhoseStripsAreAllIntraAndWhole) {
  const int intra = kCinepakIntraStrip, inter = kCinepakInterStrip;
  const Bytes encoded = [] {
    const Bytes picture = Picture("smooth", 64, 32);
    return EncodeCinepakKeyFrame(picture.data(), 64, 32);
  }();
  struct Case {
    const char* name;
    Bytes frame;
    bool intra;
  };
  const Case cases[] = {
      {"one intra strip", Frame(1, {intra}), true},
      {"three intra strips", Frame(3, {intra, intra, intra}), true},
      {"a strip that ends the frame exactly", Frame(1, {intra}, 0), true},
      {"padding after the strips", test::Concat({Frame(1, {intra}), Bytes(3, 0)}), true},
      {"the encoder's frame", encoded, true},
      // 0x10 0x01 0x00 0x14: id 0x10, 65556 bytes (a 16-bit reading saw id
      // 0x1001 and 20 bytes).
      {"an intra strip over 64 KiB", Frame(1, {intra}, 65544), true},
      {"two intra strips over 64 KiB", Frame(2, {intra, intra}, 70000), true},
      {"an inter strip over 64 KiB", Frame(1, {inter}, 65544), false},
      {"a strip over 64 KiB whose size passes the frame", Frame(1, {intra}, 65544, 1), false},
      {"one inter strip", Frame(1, {inter}), false},
      {"intra then inter", Frame(2, {intra, inter}), false},
      {"an unknown strip id", Frame(1, {0x12}), false},
      {"no strips", Frame(0, {}), false},
      {"shorter than a frame header", Bytes(9, 0), false},
      {"a strip count past the strips", Frame(2, {intra}), false},
      {"a strip header cut short", test::Slice(Frame(1, {intra}, 0), 0, 20), false},
      {"a strip size past the end", Frame(1, {intra}, 8, 1), false},
      {"a strip size below its header", Frame(1, {intra}, 8, -9), false},
      {"the encoder's frame cut by a byte", test::Slice(encoded, 0, encoded.size() - 1), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.intra, IsCinepakIntraFrame(c.frame.data(), c.frame.size())) << c.name;
  // The large strip's header as the comment above spells it.
  EXPECT_EQ(Bytes({0x10, 0x01, 0x00, 0x14}), test::Slice(Frame(1, {intra}, 65544), 10, 4));
}

TEST(CinepakTest, TheFilmCodecTableDescribesCinepak) {
  const unsigned char cvid[4] = {'c', 'v', 'i', 'd'}, other[4] = {'r', 'l', 'e', ' '};
  const FilmCodec* codec = FindFilmCodec(cvid);
  ASSERT_NE(nullptr, codec);
  EXPECT_STREQ("cvid", codec->fourcc);
  EXPECT_STREQ("Cinepak", codec->name);
  EXPECT_STREQ("V_MS/VFW/FOURCC", codec->matroskaCodecId);
  EXPECT_EQ(nullptr, FindFilmCodec(other));
  // A BITMAPINFOHEADER: its size 40, 320 x 240, 1 plane, 24 bits, "cvid".
  Bytes header(40, 0);
  for (const auto& [at, value] : std::vector<std::pair<std::size_t, unsigned char>>{{0, 40},
                                                                                    {4, 0x40},
                                                                                    {5, 0x01},
                                                                                    {8, 240},
                                                                                    {12, 1},
                                                                                    {14, 24},
                                                                                    {16, 'c'},
                                                                                    {17, 'v'},
                                                                                    {18, 'i'},
                                                                                    {19, 'd'}})
    header[at] = value;
  EXPECT_EQ(header, codec->codecPrivate(cvid, 320, 240));
  EXPECT_EQ(header, MovieTrackCodec(cvid, 320, 240).codecPrivate);
  // Another type goes under Video for Windows' tag with its own characters.
  const FilmTrackCodec copied = MovieTrackCodec(other, 320, 240);
  EXPECT_EQ("V_MS/VFW/FOURCC", copied.codecId);
  std::copy(other, other + 4, header.begin() + 16);
  EXPECT_EQ(header, copied.codecPrivate);
  // The key-frame test is Cinepak's.
  const Bytes big = Frame(1, {kCinepakIntraStrip}, 65544), inter = Frame(1, {kCinepakInterStrip});
  EXPECT_TRUE(codec->isKeyFrame(big.data(), big.size()));
  EXPECT_FALSE(codec->isKeyFrame(inter.data(), inter.size()));
}

TEST(CinepakTest, KeyFramesDecodeInFfmpegCloseToThePicture) {
  struct Case {
    std::string kind;
    int width, height;
    std::size_t strips;
    double floorDb;  // noise cannot be drawn from 256 patches: only its decoding counts
  };
  const Case cases[] = {
      {"pattern", 320, 240, 1, 40}, {"smooth", 320, 240, 1, 32},    {"tiles", 160, 120, 1, 24},
      {"tiles", 4, 4, 1, 40},       {"smooth", 640, 480, 2, 32},    {"noise", 1024, 236, 1, 0},
      {"noise", 1024, 240, 2, 0},   {"pattern", 1024, 1024, 5, 40},
  };
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    const Bytes picture = Picture(c.kind, c.width, c.height);
    const Bytes frame = EncodeCinepakKeyFrame(picture.data(), c.width, c.height);
    ASSERT_GE(frame.size(), kCinepakFrameHeaderSize);
    EXPECT_LE(frame.size(), CinepakKeyFrameBound(c.width, c.height));
    EXPECT_EQ(frame.size(), std::size_t{frame[1]} << 16 | std::size_t{frame[2]} << 8 | frame[3]);
    EXPECT_EQ(c.strips, std::size_t{frame[8]} << 8 | frame[9]);
    EXPECT_TRUE(IsCinepakIntraFrame(frame.data(), frame.size()));

    const test::FfmpegDecoding decoding = test::DecodeCinepakFrames({frame}, c.width, c.height);
    if (!decoding.skipReason.empty()) {
      skipped = decoding.skipReason;  // the checks above still run for every case
      continue;
    }
    EXPECT_EQ("", decoding.messages);
    ASSERT_EQ(1u, decoding.pictures.size());
    EXPECT_GE(test::PeakSignalToNoise(picture, decoding.pictures[0]), c.floorDb);
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(CinepakTest, PicturesOfOtherSizesAreRefused) {
  const Bytes picture(3 * 1028 * 8, 0);
  for (const auto& [width, height] :
       {std::pair{0, 4}, {6, 4}, {4, 2}, {4, 10}, {-4, 4}, {1028, 4}, {4, 1028}}) {
    EXPECT_THROW(EncodeCinepakKeyFrame(picture.data(), width, height), std::invalid_argument)
        << width << "x" << height;
    EXPECT_THROW(CinepakKeyFrameBound(width, height), std::invalid_argument);
  }
}

TEST(TestPatternTest, EveryFrameOfTheLoopDiffersFromTheNextAndTheLoopRepeats) {
  // The demo encodes each frame of the loop once and repeats it.
  for (std::size_t frame = 0; frame < kTestPatternLoop; ++frame) {
    const Bytes picture = TestPatternPicture(frame, 64, 48);
    EXPECT_NE(picture, TestPatternPicture(frame + 1, 64, 48)) << frame;
    EXPECT_EQ(picture, TestPatternPicture(frame + kTestPatternLoop, 64, 48)) << frame;
  }
}

}  // namespace
}  // namespace morvane
