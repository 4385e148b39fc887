#include <gtest/gtest.h>

#include "core/byte_file.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;
using test::TempDir;

TEST(ByteFileTest, ReadsAcrossSeeksAndBufferRefills) {
  TempDir dir;
  const Bytes data = test::PatternBytes(300000, 7);
  const std::string path = dir.Write("in.bin", data);
  ByteFile file;
  file.Open(path, ByteFile::Mode::kRead);
  // 4 bytes at a time across several refills.
  for (std::size_t at = 0; at < 200000; at += 4) {
    unsigned char got[4];
    file.Read(got, 4);
    ASSERT_EQ(0, std::memcmp(got, data.data() + at, 4)) << at;
  }
  EXPECT_EQ(200000, file.Position());
  // Back, forward and a large read past the buffer.
  for (std::int64_t at : {5, 199990, 100, 250000, 0}) {
    file.Seek(at);
    unsigned char got[10];
    file.Read(got, 10);
    EXPECT_EQ(0, std::memcmp(got, data.data() + at, 10)) << at;
    EXPECT_EQ(at + 10, file.Position());
  }
  Bytes big(100000);
  file.Seek(1000);
  file.Read(big.data(), big.size());
  EXPECT_TRUE(std::equal(big.begin(), big.end(), data.begin() + 1000));
  EXPECT_FALSE(file.Eof());
  file.Seek(300000);
  EXPECT_TRUE(file.Eof());
  file.Close();
}

TEST(ByteFileTest, ShortReadIsReadBeyondEnd) {
  TempDir dir;
  ByteFile file;
  file.Open(dir.Write("in.bin", {1, 2, 3}), ByteFile::Mode::kRead);
  unsigned char got[4];
  try {
    file.Read(got, 4);
    FAIL() << "no error";
  } catch (const CommandError& error) {
    EXPECT_EQ(kReadBeyondEnd, error.code());
    EXPECT_EQ("Read beyond end of file", error.text());
  }
}

TEST(ByteFileTest, SeekOutsideSigned32BitsFails) {
  TempDir dir;
  ByteFile file;
  file.Open(dir.Write("in.bin", {1, 2, 3}), ByteFile::Mode::kRead);
  for (std::int64_t at : {std::int64_t{-1}, std::int64_t{1} << 31, std::int64_t{5000000000}}) {
    try {
      file.Seek(at);
      FAIL() << at;
    } catch (const CommandError& error) {
      EXPECT_EQ("I/O error 22", error.text());
    }
  }
  file.Seek((std::int64_t{1} << 31) - 1);  // allowed, past the end
  EXPECT_TRUE(file.Eof());
}

TEST(ByteFileTest, OperationsOnAClosedFileAreError103) {
  ByteFile file;
  unsigned char byte = 0;
  const std::vector<std::function<void()>> operations = {
      [&] { file.Read(&byte, 1); }, [&] { file.Write(&byte, 1); }, [&] { file.Seek(0); },
      [&] { file.Close(); },        [&] { (void)file.Eof(); },     [&] { (void)file.Position(); }};
  for (const auto& operation : operations) {
    try {
      operation();
      FAIL();
    } catch (const CommandError& error) {
      EXPECT_EQ("I/O error 103", error.text());
    }
  }
}

TEST(ByteFileTest, WritesSmallPiecesAndReplacesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.Write("out.bin", test::PatternBytes(1000, 1));
  ByteFile file;
  file.Open(path, ByteFile::Mode::kCreate);
  Bytes expected;
  for (int i = 0; i < 100000; ++i) {
    const unsigned char piece[3] = {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 7};
    file.Write(piece, 3);
    expected.insert(expected.end(), piece, piece + 3);
  }
  EXPECT_EQ(300000, file.Position());
  file.Close();
  EXPECT_EQ(expected, test::ReadAll(path));
}

TEST(ByteFileTest, OpenFailuresCarryTheirCodes) {
  TempDir dir;
  struct Case {
    std::string path;
    ByteFile::Mode mode;
    std::string text;
  };
  const std::vector<Case> cases = {
      {dir.File("missing"), ByteFile::Mode::kRead, "File not found"},
      {dir.File("no/such/folder/x"), ByteFile::Mode::kRead, "Invalid filename"},
      {dir.File("no-folder/x.MAP"), ByteFile::Mode::kCreate, "Invalid filename"},
      {dir.path().string(), ByteFile::Mode::kRead, "File access denied"},
  };
  for (const auto& c : cases) {
    ByteFile file;
    try {
      file.Open(c.path, c.mode);
      FAIL() << c.path;
    } catch (const CommandError& error) {
      EXPECT_EQ(c.text, error.text()) << c.path;
    }
    EXPECT_FALSE(file.IsOpen());
  }
}

TEST(ByteFileTest, InjectedFaultFailsTheKthOperation) {
  TempDir dir;
  const std::string path = dir.Write("in.bin", test::PatternBytes(64, 3));
  ByteFile file;
  faults::FailOperation(3, EIO);  // open, read, then this read
  file.Open(path, ByteFile::Mode::kRead);
  unsigned char got[4];
  file.Read(got, 4);
  EXPECT_THROW(file.Read(got, 4), CommandError);
  file.Read(got, 4);  // disarmed after the one failure
  faults::Disarm();
}

}  // namespace
}  // namespace morvane
