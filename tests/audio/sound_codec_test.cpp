// The sound codecs' table and decoders against worked examples computed by
// hand, and every split of their data into pieces.

#include "audio/codecs/sound_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audio/codecs/cbd2.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"

namespace morvane {
namespace {

using test::Bytes;

SoundFormat Format(const std::string& type, int channels, int sampleSize = 16, int rate = 22050) {
  SoundFormat format;
  std::memcpy(format.compression, type.data(), 4);
  format.channels = channels;
  format.sampleSize = sampleSize;
  format.rate = rate;
  return format;
}

Bytes Samples(const std::vector<int>& values) {
  Bytes out;
  for (const int value : values) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
  }
  return out;
}

// The decoder's samples for the data cut into pieces at `cut` and after.
Bytes Decoded(const SoundCodec& codec, int channels, const Bytes& data, std::size_t cut) {
  const std::unique_ptr<SoundDecoder> decoder = codec.makeDecoder(channels);
  Bytes out;
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t piece = std::min(data.size() - at, at == 0 ? cut : std::size_t{3});
    const std::int64_t frames = decoder->FramesFor(static_cast<std::int64_t>(piece));
    Bytes samples(decoder->SampleBytesFor(piece) + 1, 0xEE);
    const std::size_t produced = decoder->Decode(data.data() + at, piece, samples.data());
    EXPECT_EQ(static_cast<std::size_t>(frames) * 2 * static_cast<std::size_t>(channels), produced);
    EXPECT_EQ(samples.size() - 1, produced);
    out.insert(out.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(produced));
    at += piece;
  }
  return out;
}

TEST(SoundCodecTest, WorkedExamplesByHand) {
  struct Case {
    const char* name;
    std::string type;
    int channels, sampleSize;
    Bytes data;
    std::vector<int> samples;  // 16-bit, interleaved left first
    int wavBits;
  };
  const Case cases[] = {
      // 0x20 is n = 32: 32^3 / 64 = 512, set; 0x21, n = 33: 35937 / 64 =
      // 561.5, floored, added: 1073; 0x7F adds 32005: 33078 wraps to -32458;
      // 0x80 sets -32768.
      {"CBD2 mono", "CBD2", 1, 16, {0x20, 0x21, 0x7F, 0x80}, {512, 1073, -32458, -32768}, 16},
      // Left 0x20 then 0x21: 512, 1073; right 0x7F then 0x01 (adds 0): 32005.
      {"CBD2 stereo, left first", "CBD2", 2, 16, {0x20, 0x7F, 0x21, 0x01}, {512, 32005, 1073, 32005}, 16},
      {"ADP4 from 0/0, high nibble first",
       "ADP4",
       1,
       4,
       {0x77, 0x77, 0x70, 0x0F, 0x88},
       {11, 41, 104, 240, 533, 575, 613, 92, 18, -50},
       16},
      {"SDX2 stereo, left first", "SDX2", 2, 16, {0x10, 0x20, 0x03, 0x05}, {512, 2048, 530, 2098}, 16},
      {"uncompressed 16-bit, big-endian", "NONE", 2, 16, {0x12, 0x34, 0xFF, 0xFE}, {4660, -2}, 16},
      {"uncompressed 8-bit, signed, widened",
       "    ",
       1,
       8,
       {0x00, 0x7F, 0x80, 0xFF},
       {0, 32512, -32768, -256},
       8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    const SoundCodec* codec = FindSoundCodec(Format(c.type, c.channels, c.sampleSize), why);
    ASSERT_NE(nullptr, codec) << why;
    EXPECT_EQ(c.wavBits, codec->wavBits);
    for (std::size_t cut = 1; cut <= c.data.size(); ++cut)
      EXPECT_EQ(Samples(c.samples), Decoded(*codec, c.channels, c.data, cut)) << "cut " << cut;
    // The models the stream tests hold the converter against agree.
    const std::string model =
        c.type == "NONE" || c.type == "    " ? (c.sampleSize == 8 ? "PCM8" : "PCM16") : c.type;
    EXPECT_EQ(Samples(c.samples), test::ModelSamples(model, c.channels, c.data));
  }
}

// ADP4 data whose step index wanders up and down its whole range many
// times, so that every index meets nibbles of every move on the way: five
// nibbles in six move the index down by one, the others up by 2 to 8.
// Fails the test unless the index met both ends.
Bytes Adp4IndexWalk(std::size_t count) {
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
  int index = 0, lowest = 88, highest = 0;
  Bytes data;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned byte = 0;
    for (int half = 0; half < 2; ++half) {
      const unsigned nibble = (next() % 6 == 0 ? 4 + next() % 4 : next() % 4) | (next() % 2) * 8;
      index = std::clamp(index + ((nibble & 4) != 0 ? 2 * static_cast<int>(nibble & 3) + 2 : -1), 0, 88);
      lowest = std::min(lowest, index);
      highest = std::max(highest, index);
      byte = byte << 4 | nibble;
    }
    data.push_back(static_cast<unsigned char>(byte));
  }
  EXPECT_EQ(0, lowest);
  EXPECT_EQ(88, highest);
  return data;
}

TEST(SoundCodecTest, LongDataDecodesAsTheModelsWhereverItIsCut) {
  // Long enough for the decoders' runs of many bytes at a time, cut at
  // every offset of such a run: noise, a ramp that climbs and falls to
  // both clamps of ADP4 and wraps CBD2 and SDX2, and ADP4's index walking
  // its whole range.
  Bytes ramp;
  for (int i = 0; i < 600; ++i) ramp.push_back(static_cast<unsigned char>(i < 300 ? 0x77 : 0xFF));
  for (const Bytes& data : {test::PatternBytes(4099, 7), ramp, Adp4IndexWalk(60001)}) {
    for (const auto& [type, channels] : std::vector<std::pair<std::string, int>>{
             {"CBD2", 1}, {"CBD2", 2}, {"ADP4", 1}, {"SDX2", 1}, {"SDX2", 2}}) {
      SCOPED_TRACE(type + " " + std::to_string(channels));
      std::string why;
      const SoundCodec* codec = FindSoundCodec(Format(type, channels, 4), why);
      ASSERT_NE(nullptr, codec) << why;
      const Bytes model = test::ModelSamples(type, channels, data);
      for (std::size_t cut = 1; cut <= 40; ++cut) {
        const std::unique_ptr<SoundDecoder> decoder = codec->makeDecoder(channels);
        Bytes out;
        for (std::size_t at = 0; at < data.size();) {
          const std::size_t piece = std::min(data.size() - at, at == 0 ? cut : std::size_t{97} + cut);
          Bytes samples(decoder->SampleBytesFor(piece));
          samples.resize(decoder->Decode(data.data() + at, piece, samples.data()));
          out.insert(out.end(), samples.begin(), samples.end());
          at += piece;
        }
        ASSERT_EQ(model, out) << "cut " << cut;
      }
    }
  }
}

TEST(SoundCodecTest, Cbd2ValuesAreTheFlooredCubeOver64) {
  const std::vector<std::pair<int, int>> values = {{0x80, -32768}, {0x81, -32006}, {0xFF, -1},
                                                   {0x00, 0},      {0x01, 0},      {0x7F, 32005}};
  for (const auto& [byte, value] : values)
    EXPECT_EQ(value, Cbd2Value(static_cast<std::uint8_t>(byte))) << byte;
}

TEST(SoundCodecTest, Adp4ClampsItsPredictorAndIndex) {
  // 0x77 bytes climb to the top step and clamp at 32767; 0xFF bytes then
  // fall and clamp at -32768, never wrapping.
  const Bytes data = test::Concat({Bytes(40, 0x77), Bytes(40, 0xFF)});
  std::string why;
  const SoundCodec* codec = FindSoundCodec(Format("ADP4", 1, 4), why);
  ASSERT_NE(nullptr, codec);
  const Bytes samples = Decoded(*codec, 1, data, data.size());
  auto at = [&samples](std::size_t i) {
    return static_cast<std::int16_t>(samples[2 * i] | samples[2 * i + 1] << 8);
  };
  EXPECT_EQ(32767, at(79));
  EXPECT_EQ(-32768, at(159));
  EXPECT_EQ(test::ModelSamples("ADP4", 1, data), samples);
}

TEST(SoundCodecTest, TheTablePicksByTypeChannelsAndSampleSize) {
  struct Case {
    SoundFormat format;
    const char* codec;  // null: none
    const char* why;
  };
  const Case cases[] = {
      {Format("SDX2", 1), "SDX2", ""},
      {Format("SDX2", 2), "SDX2", ""},
      {Format("SDX2", 6), nullptr, "SDX2 is decoded in mono and stereo only"},
      {Format("CBD2", 2), "CBD2", ""},
      {Format("ADP4", 1, 4), "ADP4", ""},
      {Format("ADP4", 2, 4), nullptr, "ADP4 is decoded in mono only"},
      {Format("NONE", 2, 16), "uncompressed 16-bit", ""},
      {Format(std::string(4, '\0'), 1, 16), "uncompressed 16-bit", ""},
      {Format("    ", 2, 8), "uncompressed 8-bit", ""},
      {Format("NONE", 2, 24), nullptr,
       "uncompressed sound is decoded at 8 and 16 bits a sample only, not 24"},
      {Format("none", 2, 16), nullptr, ""},
      {Format("MAC3", 2), nullptr, ""},
      {Format("SDX2", 2, 16, 0), nullptr, "no rate to play it at"},
  };
  for (const Case& c : cases) {
    std::string why = "left over";
    const SoundCodec* codec = FindSoundCodec(c.format, why);
    const std::string name(reinterpret_cast<const char*>(c.format.compression), 4);
    EXPECT_EQ(c.codec ? std::string(c.codec) : "none", codec ? std::string(codec->name) : "none") << name;
    EXPECT_EQ(c.why, why) << name;
  }
}

}  // namespace
}  // namespace morvane
