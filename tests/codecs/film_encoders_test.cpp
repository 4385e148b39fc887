// The WebM encoders alone, through the movie writer: what FFmpeg finds in
// their files (VP9 pictures near the test pattern, Opus sound in its place
// after the encoder's delay), and their refusals.

#include "codecs/film_encoders.h"

#include <gtest/gtest.h>

#include <cmath>

#include "movie/matroska_writer.h"
#include "support/ffmpeg_decoder.h"
#include "support/temp_dir.h"
#include "video/test_pattern.h"

namespace morvane::test {
namespace {

// Sound a correlation can place: noise, a new value every few samples.
std::vector<std::int16_t> Noise(std::size_t values, std::uint32_t seed) {
  std::vector<std::int16_t> samples(values);
  std::uint32_t state = seed;
  std::int16_t held = 0;
  for (std::size_t i = 0; i < values; ++i) {
    if (i % 6 == 0) {
      state = state * 1664525u + 1013904223u;
      held = static_cast<std::int16_t>(static_cast<int>(state >> 20) - 2048) * 6;
    }
    samples[i] = held;
  }
  return samples;
}

Bytes LittleEndian(const std::vector<std::int16_t>& samples) {
  Bytes bytes;
  for (const std::int16_t sample : samples) {
    bytes.push_back(static_cast<unsigned char>(sample & 0xFF));
    bytes.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
  }
  return bytes;
}

struct Case {
  int width, height, frames;
  std::int64_t frameMs;
  std::int32_t rate;
  int channels;
  std::int64_t soundFromMs;  // when the sound track starts in the movie
};

TEST(FilmEncodersTest, Vp9AndOpusInWebmAsFfmpegReadsThem) {
  if (!FilmEncodersBuilt()) GTEST_SKIP() << "this build has no encoders";
  TempDir dir;
  for (const Case& c : {Case{320, 240, 36, 83, 22050, 2, 0}, Case{164, 100, 20, 67, 48000, 1, 250},
                        Case{96, 64, 8, 100, 8000, 1, 0}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.rate));
    const std::string path = dir.File("film.webm");
    const std::int64_t length = c.frames * c.frameMs;
    const std::vector<std::int16_t> sound =
        Noise(static_cast<std::size_t>((length - c.soundFromMs) * c.rate / 1000 * c.channels), 7);
    std::vector<Bytes> pictures;
    {
      MovieVideo video;
      video.codecId = kVp9CodecId;
      video.width = static_cast<std::uint32_t>(c.width);
      video.height = static_cast<std::uint32_t>(c.height);
      MatroskaWriter writer(path, 1, video, MovieKind::kWebm);
      std::string failure;
      auto picture = MakePictureEncoder(c.width, c.height, EncoderSettings{}, failure);
      ASSERT_TRUE(picture) << failure;
      auto opus = MakeSoundEncoder(c.rate, c.channels, EncoderSettings{}, failure);
      ASSERT_TRUE(opus) << failure;
      MovieSound track(c.rate, c.channels);
      track.opusHead = opus->Head();
      track.codecDelayNs = static_cast<std::uint64_t>(opus->PreSkip()) * 1000000000 / 48000;
      track.seekPreRollNs = 80000000;
      const int number = writer.AddSound(track, 0);
      std::vector<EncodedPacket> frames, packets;
      const Bytes pcm = LittleEndian(sound);
      // The sound comes in pieces of odd sizes, whole samples each.
      const std::size_t step = 2 * static_cast<std::size_t>(c.channels) * 301;
      for (std::size_t from = 0; from < pcm.size(); from += step)
        ASSERT_EQ("", opus->Encode(pcm.data() + from, std::min(step, pcm.size() - from), packets));
      ASSERT_EQ("", opus->Finish(packets));
      for (int i = 0; i < c.frames; ++i) {
        pictures.push_back(TestPatternPicture(static_cast<std::size_t>(i), c.width, c.height));
        ASSERT_EQ("", picture->Encode(pictures.back().data(), i * c.frameMs, c.frameMs, frames));
      }
      ASSERT_EQ("", picture->Finish(frames));
      ASSERT_EQ(static_cast<std::size_t>(c.frames), frames.size());
      EXPECT_TRUE(frames[0].key);
      // The blocks in the order of their times.
      std::size_t next = 0;
      for (const EncodedPacket& frame : frames) {
        for (; next < packets.size() && c.soundFromMs + packets[next].ms < frame.ms; ++next)
          writer.Block(number, c.soundFromMs + packets[next].ms, true, packets[next].bytes.data(),
                       packets[next].bytes.size());
        writer.Block(1, frame.ms, frame.key, frame.bytes.data(), frame.bytes.size());
      }
      for (; next < packets.size(); ++next)
        writer.Block(number, c.soundFromMs + packets[next].ms, true, packets[next].bytes.data(),
                     packets[next].bytes.size());
      writer.Finish({length, static_cast<std::uint64_t>(c.frameMs) * 1000000});
    }
    const FfmpegReading reading = ReadWithFfmpeg(path);
    if (!reading.skipReason.empty()) GTEST_SKIP() << reading.skipReason;
    EXPECT_EQ("", reading.messages);
    EXPECT_EQ("vp9", reading.videoCodec);
    EXPECT_EQ(std::vector<std::string>{"opus"}, reading.soundCodecs);
    EXPECT_EQ(c.width, reading.width);
    EXPECT_EQ(c.height, reading.height);
    EXPECT_EQ(c.frames, reading.frames);
    EXPECT_NEAR(static_cast<double>(length) / 1000, reading.duration, static_cast<double>(c.frameMs) / 1000);
    ASSERT_EQ(pictures.size(), reading.pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i)
      EXPECT_GE(PeakSignalToNoise(pictures[i], reading.pictures[i]), 30.0) << "frame " << i;
    FfmpegSound given;
    given.startMs = static_cast<double>(c.soundFromMs);
    given.samples.assign(sound.begin(), sound.begin() + std::min<long>(static_cast<long>(sound.size()),
                                                                       c.rate / 10 * c.channels));
    const FfmpegSound decoded =
        DecodeSoundWithFfmpeg(path, 0, c.rate, c.channels, 100 + static_cast<int>(c.soundFromMs));
    EXPECT_NEAR(0.0, SoundLagMs(given, decoded, c.rate, c.channels, 30), 1.0);
    // The whole sound and no more, give or take a packet.
    const FfmpegSound whole = DecodeSoundWithFfmpeg(path, 0, c.rate, c.channels, 100000);
    EXPECT_NEAR(static_cast<double>(sound.size()), static_cast<double>(whole.samples.size()),
                static_cast<double>(c.rate) / 50 * c.channels);
  }
}

TEST(FilmEncodersTest, WhatTheEncodersRefuseIsNamed) {
  std::string failure;
  if (!FilmEncodersBuilt()) {
    EXPECT_FALSE(MakePictureEncoder(320, 240, EncoderSettings{}, failure));
    EXPECT_EQ("not in this build", failure);
    return;
  }
  EXPECT_FALSE(MakeSoundEncoder(22050, 3, EncoderSettings{}, failure));
  EXPECT_EQ("Opus encoder: 3 channels are not taken", failure);
  EXPECT_FALSE(MakePictureEncoder(0, 240, EncoderSettings{}, failure));
  EXPECT_EQ(0u, failure.find("VP9 encoder: ")) << failure;
}

}  // namespace
}  // namespace morvane::test
