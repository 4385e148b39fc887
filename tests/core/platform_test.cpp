// The platform's error numbers onto the codes the window shows: one table for
// each platform, compiled on its own.

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include "core/errors.h"
#include "core/platform.h"
#include "support/temp_dir.h"

namespace morvane {
namespace {

struct ErrorCase {
  const char* name;
  int error;
  int code;
};

#ifdef _WIN32

TEST(PlatformTest, GetLastErrorsMapOntoTheCodesTheWindowShows) {
  const ErrorCase cases[] = {
      {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND, kFileNotFound},
      {"ERROR_PATH_NOT_FOUND", ERROR_PATH_NOT_FOUND, kInvalidFilename},
      {"ERROR_INVALID_NAME", ERROR_INVALID_NAME, kInvalidFilename},
      {"ERROR_FILENAME_EXCED_RANGE", ERROR_FILENAME_EXCED_RANGE, kInvalidFilename},
      {"ERROR_INVALID_DRIVE", ERROR_INVALID_DRIVE, kInvalidFilename},
      {"ERROR_TOO_MANY_OPEN_FILES", ERROR_TOO_MANY_OPEN_FILES, kTooManyOpenFiles},
      {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED, kFileAccessDenied},
      {"ERROR_WRITE_PROTECT", ERROR_WRITE_PROTECT, kFileAccessDenied},
      {"ERROR_DISK_FULL", ERROR_DISK_FULL, kDiskFull},
      {"ERROR_HANDLE_DISK_FULL", ERROR_HANDLE_DISK_FULL, kDiskFull},
      {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE, kFileNotOpen},
      // Others are shown by their own number, as "I/O error %d"...
      {"ERROR_SHARING_VIOLATION", ERROR_SHARING_VIOLATION, 32},
      {"ERROR_LOCK_VIOLATION", ERROR_LOCK_VIOLATION, 33},
      {"ERROR_IO_DEVICE", ERROR_IO_DEVICE, 1117},
      // ...unless the number reads as one of the file layer's own codes.
      {"ERROR_TOO_MANY_SEMAPHORES", ERROR_TOO_MANY_SEMAPHORES, 1100},
      {"ERROR_EXCL_SEM_ALREADY_OWNED", ERROR_EXCL_SEM_ALREADY_OWNED, 1101},
      {"ERROR_TOO_MANY_SEM_REQUESTS", ERROR_TOO_MANY_SEM_REQUESTS, 1103},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.code, platform::CodeFromSystemError(c.error, "C:\\some\\file.str"));
    // The system's words read as strerror's: one line, no full stop.
    const std::string words = platform::SystemErrorText(c.error);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(std::string::npos, words.find_first_of("\r\n"));
    EXPECT_NE('.', words.back());
  }
}

// Two names that differ in case alone are one file on Windows: convert
// must take their outputs as one and refuse them.
TEST(PlatformTest, NamesThatDifferInCaseAloneShareTheirKey) {
  EXPECT_EQ(platform::NameKey("C:\\Out\\Ünïcødé Intro.STR"), platform::NameKey("c:\\out\\ünïcødé intro.str"));
  EXPECT_NE(platform::NameKey("C:\\out\\intro.str"), platform::NameKey("C:\\out\\intro2.str"));
}

#else

TEST(PlatformTest, ErrnoValuesMapOntoTheCodesTheWindowShows) {
  const test::TempDir dir;
  const std::string inAFolder = dir.File("missing.str");
  const ErrorCase cases[] = {
      {"ENOTDIR", ENOTDIR, kInvalidFilename},
      {"ENAMETOOLONG", ENAMETOOLONG, kInvalidFilename},
      {"EMFILE", EMFILE, kTooManyOpenFiles},
      {"ENFILE", ENFILE, kTooManyOpenFiles},
      {"EACCES", EACCES, kFileAccessDenied},
      {"EPERM", EPERM, kFileAccessDenied},
      {"EROFS", EROFS, kFileAccessDenied},
      {"EISDIR", EISDIR, kFileAccessDenied},
      {"ETXTBSY", ETXTBSY, kFileAccessDenied},
      {"ENOSPC", ENOSPC, kDiskFull},
      {"EDQUOT", EDQUOT, kDiskFull},
      {"EFBIG", EFBIG, kDiskFull},
      {"EBADF", EBADF, kFileNotOpen},
      {"ENXIO", ENXIO, ENXIO},
      // Values that read as a code of the table are moved up by 1000.
      {"ESRCH", ESRCH, 1003},
      {"EINTR", EINTR, 1004},
      {"EIO", EIO, 1005},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.code, platform::CodeFromSystemError(c.error, inAFolder));
  }
  // A missing file in a folder that is there is not found; in a folder that
  // is not, the name is invalid.
  EXPECT_EQ(kFileNotFound, platform::CodeFromSystemError(ENOENT, inAFolder));
  EXPECT_EQ(kInvalidFilename, platform::CodeFromSystemError(ENOENT, dir.File("gone/missing.str")));
}

void SayCleaned() noexcept { [[maybe_unused]] const auto written = ::write(2, "cleaned", 7); }

[[noreturn]] void SignalTwice() {
  const auto handle = static_cast<int>(platform::WatchEndRequests(SayCleaned));
  std::raise(SIGTERM);
  pollfd woken{handle, POLLIN, 0};
  if (::poll(&woken, 1, 0) != 1 || platform::TakeEndRequest() != SIGTERM) std::_Exit(1);
  if (::poll(&woken, 1, 0) != 0) std::_Exit(2);  // taken once
  std::raise(SIGHUP);
  std::_Exit(3);
}

// For the window: the first end signal is noted and wakes its loop once; a
// second ends the program at once, after the cleanup.
TEST(PlatformTest, AnEndSignalIsNotedAndASecondEndsTheProgram) {
  EXPECT_EXIT(SignalTwice(), testing::ExitedWithCode(128 + SIGHUP), "^cleaned$");
}

#endif

// The file layer's test switch is given errno values: each stands for the
// platform's own error, with the same code on every platform.
TEST(PlatformTest, TheTestSwitchsErrnoValuesGiveTheSameCodesEverywhere) {
  EXPECT_EQ(kFileAccessDenied, CodeFromErrno(EACCES));
  EXPECT_EQ(kDiskFull, CodeFromErrno(ENOSPC));
  EXPECT_EQ(kFileNotOpen, CodeFromErrno(EBADF));
  EXPECT_EQ(kTooManyOpenFiles, CodeFromErrno(EMFILE));
}

// convert's output folder: made with the folders above it, or refused with
// what is wrong; and two spellings of one path resolve to one text.
TEST(PlatformTest, FoldersAreMadeOrRefusedAndPathsResolveToOneText) {
  using test::PathOf;
  using test::WriteFile;
  const test::TempDir dir;
  WriteFile(dir.File("a file"), {1});
  struct Case {
    const char* folder;
    bool made;  // or refused, with the system's words or "not a folder"
  };
  const Case cases[] = {
      {"", true},                 // the folder itself, which is there
      {"out/nested/déjà", true},  // new, with the folders above it
      {"a file", false},          // a file stands there
      {"a file/below", false},    // a file stands where a folder must
  };
  for (const Case& c : cases) {
    const std::string folder = dir.File(c.folder);
    EXPECT_EQ(c.made, platform::MakeFolders(folder).empty()) << c.folder;
    EXPECT_EQ(c.made, std::filesystem::is_directory(PathOf(folder))) << c.folder;
  }
  EXPECT_EQ(platform::ResolvedPath(dir.File("out/nested/déjà/x.str")),
            platform::ResolvedPath(dir.File("out/./nested/../nested/déjà/x.str")));
  EXPECT_NE(platform::ResolvedPath(dir.File("out/x.str")), platform::ResolvedPath(dir.File("out/y.str")));
}

}  // namespace
}  // namespace morvane
