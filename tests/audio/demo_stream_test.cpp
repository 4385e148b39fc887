#include "audio/demo_stream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/ffmpeg_decoder.h"
#include "video/cinepak.h"
#include "video/test_pattern.h"

namespace morvane {
namespace {

using test::Bytes;

std::int32_t BigEndian32At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
                                   std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3]);
}

Bytes Demo(const DemoStreamOptions& options) {
  Bytes bytes;
  WriteDemoStream(options, [&](const unsigned char* at, std::size_t count) {
    bytes.insert(bytes.end(), at, at + count);
  });
  return bytes;
}

// What a walk of the demo sees: its film header and frames, and every sound
// chunk's bytes.
struct Walked {
  std::vector<std::size_t> filmHeaders;  // offsets
  std::vector<std::size_t> frames;       // offsets of the frame chunks
  Bytes soundChunks;                     // every "SNDS" chunk, one after another
  bool inTimeOrder = true;               // film frames and stream 0's sound chunks, frames first on a tie
};

Walked Walk(const Bytes& stream) {
  Walked walked;
  std::int64_t last = -1;  // twice the time of the last chunk met, plus 1 for a sound chunk
  for (std::size_t at = 0; at + 20 <= stream.size();) {
    const std::string id(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + 4));
    const auto size = static_cast<std::size_t>(BigEndian32At(stream, at + 4));
    const std::string sub(stream.begin() + static_cast<long>(at + 16),
                          stream.begin() + static_cast<long>(at + 20));
    const std::int64_t order = 2 * std::int64_t{BigEndian32At(stream, at + 8)} + (id == "SNDS" ? 1 : 0);
    if (id == "FILM") (sub == "FHDR" ? walked.filmHeaders : walked.frames).push_back(at);
    if (id == "SNDS")
      walked.soundChunks.insert(walked.soundChunks.end(), stream.begin() + static_cast<long>(at),
                                stream.begin() + static_cast<long>(at + size));
    if ((id == "FILM" || sub == "SSMP") && BigEndian32At(stream, at + 12) % 0x10000 == 0) {
      walked.inTimeOrder = walked.inTimeOrder && order >= last;
      last = order;
    }
    at += size;
  }
  return walked;
}

TEST(DemoStreamTest, TheFilmPlaysBesideTheFirstSoundStreamAndLeavesTheSoundAsItWas) {
  struct Case {
    const char* name;
    DemoFilmOptions film;
    std::vector<std::int32_t> rates;
    std::size_t blockSize;
    std::size_t frames;
  };
  const Case cases[] = {
      {"the demo", {}, {22050, 22050}, 32768, 48},
      {"15 a second, padded chunks, three streams", {64, 48, 16, 1024}, {22050, 11025, 8000}, 8192, 60},
      {"no blocks, a frame a second", {32, 32, 240, 0}, {44100}, 0, 4},
  };
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DemoStreamOptions options;
    options.rates = c.rates;
    options.blockSize = c.blockSize;
    options.film = c.film;
    const Bytes stream = Demo(options);
    const Walked walked = Walk(stream);
    options.film.frameTicks = 0;
    const Walked filmless = Walk(Demo(options));
    EXPECT_EQ(filmless.soundChunks, walked.soundChunks);
    EXPECT_TRUE(filmless.filmHeaders.empty() && filmless.frames.empty());
    EXPECT_TRUE(walked.inTimeOrder);

    ASSERT_EQ(1u, walked.filmHeaders.size());
    ASSERT_EQ(c.frames, walked.frames.size());
    const std::size_t header = walked.filmHeaders[0];
    EXPECT_LT(header, walked.frames[0]);
    // Size, time 0, channel 0, "FHDR", version 0, "cvid", height, width, time scale, frame count.
    std::vector<std::int32_t> fields;
    for (std::size_t at = header + 4; at < header + 44; at += 4) fields.push_back(BigEndian32At(stream, at));
    EXPECT_EQ(std::vector<std::int32_t>({44, 0, 0, 0x46484452, 0, 0x63766964, c.film.height, c.film.width,
                                         240, static_cast<std::int32_t>(c.frames)}),
              fields);

    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < walked.frames.size(); ++i) {
      const std::size_t at = walked.frames[i];
      const auto size = static_cast<std::size_t>(BigEndian32At(stream, at + 4));
      const auto frameSize = static_cast<std::size_t>(BigEndian32At(stream, at + 24));
      EXPECT_EQ(static_cast<std::int32_t>(i) * c.film.frameTicks, BigEndian32At(stream, at + 8));
      EXPECT_EQ(0x10000, BigEndian32At(stream, at + 12));  // the key flag, channel 0
      EXPECT_EQ(c.film.frameTicks, BigEndian32At(stream, at + 20));
      EXPECT_EQ(0u, size % 4);
      ASSERT_LE(28 + frameSize, size);
      EXPECT_EQ(std::max(c.film.chunkSize, 28 + frameSize + 3) / 4 * 4, size);
      EXPECT_EQ(Bytes(size - 28 - frameSize, 0),
                test::Slice(stream, at + 28 + frameSize, size - 28 - frameSize));
      frames.push_back(test::Slice(stream, at + 28, frameSize));
      EXPECT_TRUE(IsCinepakIntraFrame(frames.back().data(), frameSize));
    }

    const test::FfmpegDecoding decoding = test::DecodeCinepakFrames(frames, c.film.width, c.film.height);
    if (!decoding.skipReason.empty()) {
      skipped = decoding.skipReason;  // the checks above still run for every case
      continue;
    }
    EXPECT_EQ("", decoding.messages);
    ASSERT_EQ(frames.size(), decoding.pictures.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_GE(
          test::PeakSignalToNoise(TestPatternPicture(i, c.film.width, c.film.height), decoding.pictures[i]),
          40)
          << "frame " << i;
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(DemoStreamTest, FilmOptionsThatCannotBeMadeAreRefusedBeforeAByteIsWritten) {
  struct Case {
    const char* name;
    DemoFilmOptions film;
    std::size_t blockSize;
  };
  const Case cases[] = {
      {"a width not a multiple of 4", {30, 240, 20, 0}, 32768},
      {"a frame chunk size not a multiple of 4", {320, 240, 20, 1022}, 32768},
      {"a negative frame duration", {320, 240, -20, 0}, 32768},
      {"blocks too small for the largest frame", {320, 240, 20, 0}, 16384},
  };
  for (const Case& c : cases) {
    DemoStreamOptions options;
    options.film = c.film;
    options.blockSize = c.blockSize;
    std::size_t written = 0;
    EXPECT_THROW(WriteDemoStream(options, [&](const unsigned char*, std::size_t count) { written += count; }),
                 std::invalid_argument)
        << c.name;
    EXPECT_EQ(0u, written) << c.name;
  }
}

}  // namespace
}  // namespace morvane
