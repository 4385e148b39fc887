#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "core/byte_file.h"
#include "core/errors.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

using test::Bytes;
using test::TempDir;

// A file created for writing, as it goes or written behind by a second
// thread; the two hold the same bytes whatever is done to them.
void OpenToWrite(ByteFile& file, const std::string& path, bool behind) {
  file.Open(path, ByteFile::Mode::kCreate);
  if (!behind) return;
  file.UseWriteBehind();
  // Where there is a second core the road below is really taken.
  if (std::thread::hardware_concurrency() >= 2) {
    EXPECT_TRUE(file.WritesBehind());
  }
}

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
  for (const bool behind : {false, true}) {
    SCOPED_TRACE(behind);
    TempDir dir;
    const std::string path = dir.Write("out.bin", test::PatternBytes(1000, 1));
    ByteFile file;
    OpenToWrite(file, path, behind);
    Bytes expected;
    // Over four buffers, so that the second thread holds as many as it takes.
    for (int i = 0; i < 1000000; ++i) {
      const unsigned char piece[3] = {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 7};
      file.Write(piece, 3);
      expected.insert(expected.end(), piece, piece + 3);
    }
    EXPECT_EQ(3000000, file.Position());
    file.Close();
    EXPECT_EQ(expected, test::ReadAll(path));
  }
}

// Overwriting an earlier stretch leaves the position alone, whether the
// stretch is still in the buffer, already on the disk or across both; one
// past what was written is refused.
TEST(ByteFileTest, OverwriteChangesEarlierBytesWhereverTheyAre) {
  struct Case {
    std::int64_t at;
    std::size_t count;
  };
  // 1.5 MB written in 1000-byte pieces: the first buffers are on the disk,
  // the last ones still in memory.
  constexpr std::size_t kWritten = 1500000;
  for (const bool behind : {false, true})
    for (const Case& c :
         {Case{0, 8}, Case{600000, 4}, Case{kWritten - 10, 10}, Case{1048570, 20}, Case{100, 700000}}) {
      SCOPED_TRACE(behind);
      TempDir dir;
      const std::string path = dir.File("out.bin");
      ByteFile file;
      // Written behind, the buffers before the last may still be on their way.
      OpenToWrite(file, path, behind);
      Bytes expected = test::PatternBytes(kWritten, 3);
      for (std::size_t at = 0; at < kWritten; at += 1000) file.Write(expected.data() + at, 1000);
      const Bytes patch = test::PatternBytes(c.count, 9);
      file.Overwrite(c.at, patch.data(), patch.size());
      std::copy(patch.begin(), patch.end(), expected.begin() + c.at);
      EXPECT_EQ(static_cast<std::int32_t>(kWritten), file.Position()) << c.at;
      const unsigned char tail[3] = {1, 2, 3};
      file.Write(tail, 3);
      expected.insert(expected.end(), tail, tail + 3);
      EXPECT_THROW(file.Overwrite(kWritten, patch.data(), 4), CommandError);
      file.Close();
      EXPECT_EQ(expected, test::ReadAll(path)) << c.at << " " << c.count;
    }
}

// An interrupted batch holds two outputs of each of its streams at once:
// every temporary alive is removed, and the earlier file of a name stays.
TEST(ByteFileTest, EveryLiveTemporaryIsRemovedAndEarlierFilesStay) {
  TempDir dir;
  const Bytes earlier = test::PatternBytes(10, 3);
  const std::string kept = dir.Write("kept", earlier);
  std::vector<std::unique_ptr<ByteFile>> files;
  for (int i = 0; i < kMostLiveTemporaries; ++i) {
    files.push_back(std::make_unique<ByteFile>());
    files.back()->Open(i == 0 ? kept : dir.File("out" + std::to_string(i)), ByteFile::Mode::kCreate);
    files.back()->Write("data", 4);
  }
  RemoveLiveTemporaries();
  files.clear();  // the quiet closes find nothing to put in place
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()), {}));
  EXPECT_EQ(earlier, test::ReadAll(kept));
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

#ifndef _WIN32
// A write the system refuses (the file size limit here, as a full disk
// would): written behind, it is raised by a later call, with the same text,
// and the file keeps what fitted and nothing after it, as written as it goes.
TEST(ByteFileTest, ASystemFailureWrittenBehindIsRaisedLaterAndKeepsWhatFitted) {
  constexpr rlim_t kLimit = 1000000;
  rlimit before{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &before));
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  limited.rlim_cur = kLimit;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limited));
  const Bytes data = test::PatternBytes(3000000, 5);
  std::string texts[2];
  for (const bool behind : {false, true}) {
    SCOPED_TRACE(behind);
    TempDir dir;
    const std::string path = dir.File("out.bin");
    ByteFile file;
    OpenToWrite(file, path, behind);
    std::size_t at = 0;
    try {
      for (; at < data.size(); at += 1000) file.Write(data.data() + at, 1000);
      file.Close();
    } catch (const CommandError& error) {
      texts[behind] = ErrorCause(error);
      file.CloseQuietly();
    }
    // Behind, the failure may be learnt as late as the close.
    if (!behind) {
      EXPECT_LT(at, data.size()) << "raised at the write that failed";
    }
    EXPECT_EQ(Bytes(data.begin(), data.begin() + kLimit), test::ReadAll(path));
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE("", texts[0]);
  EXPECT_EQ(texts[0], texts[1]);
}
#endif

// CopyTo moves bytes as Read then Write would: from the position on, after
// what the read buffer holds, into what the write buffer holds.
TEST(ByteFileTest, CopyToMovesExactlyTheBytesAReadAndAWriteWould) {
  TempDir dir;
  const Bytes data = test::PatternBytes(1200000, 21);
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
      {"over the destination's buffer twice", 3, 0, 1100000},
      {"up to the last byte", 1199000, 0, 1000},
      {"nothing", 50, 0, 0},
  };
  for (const bool behind : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + std::string(behind ? ", written behind" : ""));
      const std::string out = dir.File("out.bin");
      ByteFile source;
      ByteFile destination;
      source.Open(in, ByteFile::Mode::kRead);
      OpenToWrite(destination, out, behind);
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
      Bytes expected(c.count + 8);
      const auto from = data.begin() + c.seekTo + static_cast<std::ptrdiff_t>(c.readFirst);
      std::copy_n("head", 4, expected.begin());
      std::copy(from, from + static_cast<std::ptrdiff_t>(c.count), expected.begin() + 4);
      std::copy_n("tail", 4, expected.end() - 4);
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
