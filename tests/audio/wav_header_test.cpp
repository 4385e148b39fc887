#include "audio/wav_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace morvane {
namespace {

using test::AppendId;
using test::AppendLittleEndian32;
using test::Bytes;

TEST(WavHeaderTest, HeaderOfA16BitStereoImageWithItsSizesPatched) {
  Bytes image(44 + 8, 0xEE);
  WriteWavHeader(image.data(), -1);
  PatchWavSizes(image.data(), image.size());
  Bytes expected;
  AppendId(expected, "RIFF");
  AppendLittleEndian32(expected, 44);
  AppendId(expected, "WAVE");
  AppendId(expected, "fmt ");
  AppendLittleEndian32(expected, 16);
  expected.insert(expected.end(), {1, 0, 2, 0});
  AppendLittleEndian32(expected, -1);  // the rate as typed, in two's complement
  AppendLittleEndian32(expected, -4);  // byte rate 4 x rate, wrapped
  expected.insert(expected.end(), {4, 0, 16, 0});
  AppendId(expected, "data");
  AppendLittleEndian32(expected, 8);
  expected.insert(expected.end(), 8, 0xEE);  // the samples are not touched
  EXPECT_EQ(expected, image);
}

// A chunk: id, little-endian size, body, a pad byte after an odd body.
Bytes Chunk(const char* id, std::uint32_t size, const Bytes& body) {
  Bytes out;
  AppendId(out, id);
  AppendLittleEndian32(out, static_cast<std::int32_t>(size));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 == 1) out.push_back(0);
  return out;
}

Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes out;
  AppendId(out, "RIFF");
  AppendLittleEndian32(out, 0);
  AppendId(out, "WAVE");
  for (const Bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

TEST(WavHeaderTest, TheReaderFindsFormatAndDataAsAPlayerNeedsThem) {
  Bytes ours(44 + 12, 0);
  WriteWavHeader(ours.data(), 22050);
  PatchWavSizes(ours.data(), ours.size());
  // Format code 3, 1 channel, 8000 Hz, 8 bits.
  const Bytes otherFormat = {3, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
  struct Case {
    const char* name;
    Bytes image;
    bool read;
    WavFormat format;
  };
  const Case cases[] = {
      {"the image the conversion builds", ours, true, {1, 2, 22050, 16, 44, 12}},
      {"a chunk of odd length before the format is passed over with its pad byte",
       Riff({Chunk("LIST", 3, {1, 2, 3}), Chunk("fmt ", 16, otherFormat), Chunk("data", 4, {9, 9, 9, 9})}),
       true,
       {3, 1, 8000, 8, 12 + 12 + 24 + 8, 4}},
      {"a data size beyond the image is held to what the image holds",
       Riff({Chunk("fmt ", 16, otherFormat), Chunk("data", 1000, {9, 9})}),
       true,
       {3, 1, 8000, 8, 12 + 24 + 8, 2}},
      {"data before any format", Riff({Chunk("data", 2, {9, 9}), Chunk("fmt ", 16, otherFormat)}), false, {}},
      {"a format chunk too short", Riff({Chunk("fmt ", 14, Bytes(14, 1)), Chunk("data", 0, {})}), false, {}},
      {"no data chunk", Riff({Chunk("fmt ", 16, otherFormat)}), false, {}},
      {"no RIFF image", Bytes(ours.begin() + 1, ours.end()), false, {}},
      {"shorter than the RIFF header", Bytes(ours.begin(), ours.begin() + 11), false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WavFormat format;
    ASSERT_EQ(c.read, ReadWavFormat(c.image.data(), c.image.size(), format));
    if (!c.read) continue;
    EXPECT_EQ(c.format.formatCode, format.formatCode);
    EXPECT_EQ(c.format.channels, format.channels);
    EXPECT_EQ(c.format.sampleRate, format.sampleRate);
    EXPECT_EQ(c.format.bitsPerSample, format.bitsPerSample);
    EXPECT_EQ(c.format.dataOffset, format.dataOffset);
    EXPECT_EQ(c.format.dataSize, format.dataSize);
  }
}

}  // namespace
}  // namespace morvane
