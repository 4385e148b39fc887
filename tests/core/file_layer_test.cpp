#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

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

// CopyTo moves bytes as Read then Write would: from the position on, after
// what the read buffer holds, into what the write buffer holds.
TEST(ByteFileTest, CopyToMovesExactlyTheBytesAReadAndAWriteWould) {
  TempDir dir;
  const Bytes data = test::PatternBytes(400000, 21);
  const std::string in = dir.Write("in.bin", data);
  struct Case {
    const char* name;
    std::int64_t seekTo;
    std::size_t readFirst;  // read through the buffer before the copy
    std::size_t count;
  };
  const Case cases[] = {
      {"a few bytes", 7, 0, 3},
      {"after a read, from the buffer on into the file", 100, 4, 70000},
      {"more than both buffers", 0, 1, 300000},
      {"up to the last byte", 399000, 0, 1000},
      {"nothing", 50, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File("out.bin");
    ByteFile source;
    ByteFile destination;
    source.Open(in, ByteFile::Mode::kRead);
    destination.Open(out, ByteFile::Mode::kCreate);
    destination.Write("head", 4);
    source.Seek(c.seekTo);
    Bytes first(c.readFirst);
    if (c.readFirst > 0) source.Read(first.data(), first.size());
    source.CopyTo(destination, c.count);
    const auto after = static_cast<std::int64_t>(c.seekTo + c.readFirst + c.count);
    EXPECT_EQ(after, source.Position());
    // The read goes on right after what was copied.
    if (after < static_cast<std::int64_t>(data.size())) {
      unsigned char next;
      source.Read(&next, 1);
      EXPECT_EQ(data[static_cast<std::size_t>(after)], next);
    }
    destination.Write("tail", 4);
    destination.Close();
    Bytes expected = {'h', 'e', 'a', 'd'};
    const auto from = data.begin() + c.seekTo + static_cast<std::ptrdiff_t>(c.readFirst);
    expected.insert(expected.end(), from, from + static_cast<std::ptrdiff_t>(c.count));
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    EXPECT_EQ(expected, test::ReadAll(out));
  }
}

TEST(ByteFileTest, CopyToFailsWholeOnAShortFileAndOnAClosedDestination) {
  TempDir dir;
  const Bytes data = test::PatternBytes(1000, 22);
  const std::string in = dir.Write("in.bin", data);
  const std::string out = dir.File("out.bin");
  const auto errorOf = [](auto work) -> std::string {
    try {
      work();
    } catch (const CommandError& error) {
      return error.text();
    }
    return "";
  };
  ByteFile source;
  ByteFile destination;
  source.Open(in, ByteFile::Mode::kRead);
  destination.Open(out, ByteFile::Mode::kCreate);
  source.Seek(990);
  // One byte too many: nothing is copied and the position stays.
  EXPECT_EQ("Read beyond end of file", errorOf([&] { source.CopyTo(destination, 11); }));
  EXPECT_EQ(990, source.Position());
  source.CopyTo(destination, 10);
  destination.Close();
  EXPECT_EQ(Bytes(data.begin() + 990, data.end()), test::ReadAll(out));
  // The read is checked before the write, as Read before Write would be.
  source.Seek(0);
  EXPECT_EQ("Read beyond end of file", errorOf([&] { source.CopyTo(destination, 2000); }));
  EXPECT_EQ("I/O error 103", errorOf([&] { source.CopyTo(destination, 5); }));
  // A file that grew after it was opened is copied up to its new end.
  std::ofstream(in, std::ios::binary | std::ios::app) << "more";
  destination.Open(out, ByteFile::Mode::kCreate);
  source.Seek(998);
  source.CopyTo(destination, 6);
  destination.Close();
  EXPECT_EQ((Bytes{data[998], data[999], 'm', 'o', 'r', 'e'}), test::ReadAll(out));
}

TEST(ByteFileTest, CopyToIsOneReadAndOneWriteOperation) {
  TempDir dir;
  const std::string in = dir.Write("in.bin", test::PatternBytes(200000, 23));
  const std::string out = dir.File("out.bin");
  // Open, open, then the copy's read (k = 3) or its write (k = 4).
  for (const std::int64_t k : {3, 4}) {
    SCOPED_TRACE(k);
    ByteFile source;
    ByteFile destination;
    faults::FailOperation(k, ENOSPC);
    source.Open(in, ByteFile::Mode::kRead);
    destination.Open(out, ByteFile::Mode::kCreate);
    try {
      source.CopyTo(destination, 150000);
      ADD_FAILURE() << "no error";
    } catch (const CommandError& error) {
      EXPECT_EQ("Disk full", error.text());
    }
    EXPECT_EQ(k, faults::OperationsPerformed());
    faults::Disarm();
    destination.Close();
    EXPECT_TRUE(test::ReadAll(out).empty());
  }
}

}  // namespace
}  // namespace morvane
