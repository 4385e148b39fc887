#include "core/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/byte_file.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;
using test::TempDir;

// The read-ahead's choice after a walk of moves: each step reads `read`
// bytes at a chunk start and moves on to the next chunk, `size` bytes on.
struct Stretch {
  int chunks;
  std::int64_t size;
  std::int64_t read = 8;
};

std::size_t FillAfter(const std::vector<Stretch>& walk, std::int64_t fileSize = std::int64_t{1} << 30) {
  ReadAhead readAhead;
  std::int64_t at = 0;
  for (const Stretch& stretch : walk) {
    for (int i = 0; i < stretch.chunks; ++i) {
      readAhead.Moved(at + stretch.read, at + stretch.size);
      at += stretch.size;
    }
  }
  return readAhead.Fill(at, 8, fileSize);
}

TEST(ReadAheadTest, ReadsABlockAfterNearMovesAndAPieceAfterFarOnes) {
  constexpr std::size_t kBlock = ReadAhead::kLargeBlock;
  constexpr std::size_t kPiece = ReadAhead::kSmallRead;
  const Stretch dense{20, 3584};
  const Stretch film{1, 256000};
  const Stretch sound{1, 32792, 24};
  struct Case {
    const char* name;
    std::vector<Stretch> walk;
    std::size_t fill;
  };
  const std::vector<Case> cases = {
      {"the first read of a file", {}, kPiece},
      {"dense chunks", {dense}, kBlock},
      {"empty chunks, the next header right here", {{5, 8}}, kBlock},
      {"sparse: sound data and film chunks", {film, sound, film, sound, film, sound}, kPiece},
      {"far moves after runs of 1000 bytes take as much", {{6, 300000, 1000}}, 1000},
      {"moves a little past the near limit", {{20, ReadAhead::kNearMove + 8 + 100}}, kPiece},
      {"moves a little within the near limit", {{20, ReadAhead::kNearMove + 8 - 100}}, kBlock},
      {"one film chunk in a dense stretch", {dense, film, dense}, kBlock},
      {"one far move in a dense stretch, the read at its end", {dense, film}, kBlock},
      {"mixed: sparse after dense", {dense, film, sound, film}, kPiece},
      {"mixed: dense after sparse, turned within a few moves", {film, sound, film, sound, {4, 3584}}, kBlock},
      {"mixed: dense after sparse, not yet turned", {film, sound, film, sound, {1, 3584}}, kPiece},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.fill, FillAfter(c.walk)) << c.name;
  }
}

TEST(ReadAheadTest, AMoveBackStartsAfreshAndTheEndOfTheFileCutsTheBlock) {
  ReadAhead readAhead;
  for (std::int64_t at = 0; at < 20 * 3584; at += 3584) readAhead.Moved(at + 8, at + 3584);
  readAhead.Moved(20 * 3584, 100);
  EXPECT_EQ(ReadAhead::kFarMoves, readAhead.RecentMove());
  EXPECT_EQ(ReadAhead::kSmallRead, readAhead.Fill(100, 8, 1 << 20)) << "a move back";
  for (std::int64_t at = 100; at < 100 + 3 * 3584; at += 3584) readAhead.Moved(at + 8, at + 3584);
  EXPECT_EQ(ReadAhead::kLargeBlock, readAhead.Fill(100 + 3 * 3584, 8, 1 << 20))
      << "three near moves after it";

  struct Case {
    const char* name;
    std::int64_t position;
    std::size_t count;
    std::size_t fill;
  };
  const std::int64_t size = 1000000;
  const Case cases[] = {
      {"a block well before the end", 100000, 8, ReadAhead::kLargeBlock},
      {"the block cut to what is left", size - 1000, 8, 1000},
      {"a read running past the end asks for all it wants", size - 3, 8, 8},
      {"a read at the end", size, 8, 8},
      {"a read past the end", size + 50, 8, 8},
  };
  for (const Case& c : cases) {
    ReadAhead near;
    for (int i = 0; i < 3; ++i) near.Moved(8, 100);
    EXPECT_EQ(c.fill, near.Fill(c.position, c.count, size)) << c.name;
  }
}

TEST(ReadAheadTest, ReadingOnDoublesEachFillAndACopyStartsSmallAgain) {
  ReadAhead readAhead;
  std::vector<std::size_t> fills;
  for (std::size_t fill = 0; fill < ReadAhead::kLargeBlock;) {
    fill = readAhead.Fill(0, 1, std::int64_t{1} << 30);
    fills.push_back(fill);
  }
  EXPECT_EQ((std::vector<std::size_t>{64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536, 131072,
                                      262144}),
            fills);
  EXPECT_EQ(ReadAhead::kLargeBlock, readAhead.Fill(0, 1, std::int64_t{1} << 30));
  readAhead.Copied();
  EXPECT_EQ(ReadAhead::kSmallRead, readAhead.Fill(0, 1, std::int64_t{1} << 30));
}

// Walks over the same bytes in the shapes the read-ahead tells apart, with
// headers that straddle the end of a block: every byte read is the file's.
TEST(ByteFileTest, WalksOfEveryShapeReadTheFilesBytes) {
  TempDir dir;
  const Bytes data = test::PatternBytes(3000000, 31);
  const std::string path = dir.Write("in.bin", data);
  struct Case {
    const char* name;
    std::vector<Stretch> walk;
  };
  const std::vector<Case> cases = {
      {"dense", {{700, 3583, 24}}},
      {"sparse", {{10, 256000, 16}, {10, 32792, 24}}},
      {"mixed", {{100, 3584}, {3, 256000, 64}, {200, 2000, 12}, {2, 300001}, {300, 1000, 56}}},
      {"headers across a block's end",
       {{1, ReadAhead::kLargeBlock - 4}, {1, ReadAhead::kLargeBlock - 3, 64}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteFile file;
    file.Open(path, ByteFile::Mode::kRead);
    std::int64_t at = 0;
    for (const Stretch& stretch : c.walk) {
      for (int i = 0; i < stretch.chunks && at + stretch.read <= 3000000; ++i) {
        file.Seek(at);
        Bytes got(static_cast<std::size_t>(stretch.read));
        file.Read(got.data(), got.size());
        ASSERT_TRUE(std::equal(got.begin(), got.end(), data.begin() + at)) << at;
        ASSERT_EQ(at + stretch.read, file.Position());
        at += stretch.size;
      }
    }
    // The end of the walk, and a header cut by the end of the file.
    file.Seek(2999996);
    unsigned char header[8];
    EXPECT_THROW(file.Read(header, 8), CommandError);
  }
}

}  // namespace
}  // namespace morvane
