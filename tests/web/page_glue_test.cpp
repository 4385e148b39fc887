// The pictures the page's worker draws from a conversion: the waveform's
// envelope and the strip of chunks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "web/chunk_strip.h"
#include "web/sound_envelope.h"

namespace morvane {
namespace {

std::vector<unsigned char> Pcm(const std::vector<std::int16_t>& samples) {
  std::vector<unsigned char> bytes;
  for (std::int16_t sample : samples) {
    bytes.push_back(static_cast<unsigned char>(sample & 0xFF));
    bytes.push_back(static_cast<unsigned char>((sample >> 8) & 0xFF));
  }
  return bytes;
}

TEST(SoundEnvelopeTest, ColumnsHoldTheExtremesOfTheirFramesHoweverThePiecesFall) {
  struct Case {
    int channels;
    std::size_t frames;
    std::size_t piece;  // bytes handed over at a time; odd ones split samples
  };
  const Case cases[] = {{2, 0, 64},       {2, 5, 3},          {1, 1000, 1},
                        {2, 70001, 4099}, {1, 300000, 65536}, {2, 200000, 7}};
  for (const Case& c : cases) {
    std::vector<std::int16_t> samples(c.frames * c.channels);
    std::uint32_t state = 12345;
    for (std::int16_t& sample : samples)
      sample = static_cast<std::int16_t>((state = state * 1103515245 + 12345) >> 16);
    const std::vector<unsigned char> bytes = Pcm(samples);
    SoundEnvelope envelope;
    for (std::size_t at = 0; at < bytes.size(); at += c.piece)
      envelope.Add(bytes.data() + at, std::min(c.piece, bytes.size() - at), c.channels);

    // Merging columns keeps their extremes: the columns are those of the
    // final width, counted from the first frame.
    const std::vector<std::int16_t> columns = envelope.Columns();
    const auto width = static_cast<std::size_t>(envelope.FramesPerColumn()) * c.channels;
    std::vector<std::int16_t> wanted;
    for (std::size_t start = 0; start < samples.size(); start += width) {
      const auto first = samples.begin() + static_cast<long>(start);
      const auto last = samples.begin() + static_cast<long>(std::min(samples.size(), start + width));
      wanted.push_back(*std::min_element(first, last));
      wanted.push_back(*std::max_element(first, last));
    }
    EXPECT_EQ(wanted, columns) << c.channels << " channels, " << c.frames << " frames, pieces of " << c.piece;
    if (c.frames >= 16 * 2 * SoundEnvelope::kColumns) {
      EXPECT_GE(columns.size(), 2 * SoundEnvelope::kColumns) << "a long sound keeps its detail";
      EXPECT_LE(columns.size(), 4 * SoundEnvelope::kColumns) << "and no more than twice the columns wanted";
    }
  }
}

TEST(ChunkStripTest, EachCellTellsTheShareOfEveryKind) {
  const auto id = [](const char* text) { return reinterpret_cast<const unsigned char*>(text); };
  struct Case {
    const char* name;
    std::int64_t fileSize;
    std::vector<std::pair<const char*, std::pair<std::int64_t, std::int64_t>>> chunks;  // id, start, size
    std::size_t cell;
    unsigned char sound, film, other;
  };
  const std::int64_t cells = ChunkStrip::kCells;
  const Case cases[] = {
      {"one sound chunk over the file", 4 * cells, {{"SNDS", {0, 4 * cells}}}, cells - 1, 255, 0, 0},
      {"half film, half fill",
       10 * cells,
       {{"FILM", {0, 5 * cells}}, {"FILL", {5 * cells, 5 * cells}}},
       200,
       0,
       0,
       255},
      {"a cell shared by two kinds", 4 * cells, {{"SSND", {0, 2}}, {"FILM", {2, 4 * cells}}}, 0, 127, 127, 0},
      {"a chunk claiming more than the file", cells, {{"CTRL", {0, 50 * cells}}}, cells - 1, 0, 0, 255},
      {"a file smaller than the strip", 3, {{"SNDS", {0, 3}}}, cells - 1, 255, 0, 0},
      {"nothing met past a cut", 2 * cells, {{"SNDS", {0, cells}}}, cells - 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ChunkStrip strip(c.fileSize);
    for (const auto& [chunk, where] : c.chunks) strip.Add(id(chunk), where.first, where.second);
    const std::vector<unsigned char> shares = strip.Shares();
    ASSERT_EQ(3 * ChunkStrip::kCells, shares.size());
    EXPECT_EQ(c.sound, shares[3 * c.cell]) << c.name;
    EXPECT_EQ(c.film, shares[3 * c.cell + 1]) << c.name;
    EXPECT_EQ(c.other, shares[3 * c.cell + 2]) << c.name;
  }
}

}  // namespace
}  // namespace morvane
