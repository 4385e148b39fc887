// The platform layer on Linux and other POSIX systems.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "core/platform.h"

namespace morvane::platform {

bool IsSeparator(char c) { return c == '/'; }

OpenedFile OpenForReading(const std::string& path) {
  // A FIFO, a device or a socket is refused before it is opened: opening one
  // may wait for a writer or act on the device. The open itself never waits,
  // and what it opened is looked at again.
  OpenedFile opened;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    opened.error = errno;
    return opened;
  }
  if (S_ISDIR(info.st_mode)) {
    opened.error = EISDIR;
    return opened;
  }
  if (!S_ISREG(info.st_mode)) {
    opened.notRegular = true;
    return opened;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    opened.error = errno;
    return opened;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = errno;
    ::close(fd);
    if (S_ISDIR(info.st_mode)) {
      opened.error = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
      opened.notRegular = true;
    } else {
      opened.error = error;
    }
    return opened;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  opened.handle = fd;
  opened.size = info.st_size;
  return opened;
}

int InspectTarget(const std::string& path, Target& target) {
  target = Target();
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) != 0) return errno == ENOENT ? 0 : errno;
  target.exists = true;
  if (S_ISDIR(existing.st_mode)) return EISDIR;
  if (S_ISREG(existing.st_mode)) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    target.keepsPermissions = true;
    target.permissions = existing.st_mode & 0777;
  }
  return 0;
}

int CreateExclusive(const std::string& path, const Target& replacing, FileHandle& handle) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  // A file replaced keeps its permissions, as one emptied in place would.
  if (replacing.keepsPermissions && replacing.permissions != 0666) ::fchmod(fd, replacing.permissions);
  handle = fd;
  return 0;
}

bool IsAlreadyExists(int error) { return error == EEXIST; }

std::int64_t ReadAt(FileHandle handle, void* destination, std::size_t count, std::int64_t offset,
                    int& error) {
  const ssize_t got = ::pread(static_cast<int>(handle), destination, count, offset);
  if (got < 0) error = errno;
  return got;
}

std::int64_t WriteAt(FileHandle handle, const void* source, std::size_t count, std::int64_t offset,
                     int& error) {
  const ssize_t put = ::pwrite(static_cast<int>(handle), source, count, offset);
  if (put < 0) error = errno;
  return put;
}

int DiskFullError() { return ENOSPC; }

std::int64_t SizeOf(FileHandle handle) {
  struct stat info {};
  if (::fstat(static_cast<int>(handle), &info) != 0) return -1;
  return info.st_size;
}

int SyncData(FileHandle handle) {
  // A file system that keeps nothing to sync (or is read-only) is no failure.
  if (::fdatasync(static_cast<int>(handle)) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

int Close(FileHandle handle) {
  if (::close(static_cast<int>(handle)) != 0 && errno != EINTR) return errno;
  return 0;
}

int Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void Remove(const char* path) noexcept { ::unlink(path); }

bool FileSizeByName(const std::string& path, std::int64_t& size) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  size = info.st_size;
  return true;
}

void RandomBytes(unsigned char* bytes, std::size_t count) {
  if (::getrandom(bytes, count, 0) == static_cast<ssize_t>(count)) return;
  static std::uint64_t fallback = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u;
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>((fallback += 0x9E3779B97F4A7C15u) >> 56);
}

int CodeFromSystemError(int error, const std::string& path) {
  switch (error) {
    case ENOENT: {
      // A missing folder is an invalid name; a missing file in an existing
      // folder is not found.
      std::error_code ec;
      const auto parent = std::filesystem::path(path).parent_path();
      if (!path.empty() && !parent.empty() && !std::filesystem::is_directory(parent, ec)) {
        return kInvalidFilename;
      }
      return kFileNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kFileAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    case EBADF:
      return kFileNotOpen;
    default:
      return CodeOfOtherSystemError(error);
  }
}

std::string SystemErrorText(int error) { return std::strerror(error); }

int SystemErrorFromErrno(int errnoValue) { return errnoValue; }

namespace {
void (*interruptCleanup)() noexcept = nullptr;

extern "C" void OnSignal(int signalNumber) {
  if (interruptCleanup != nullptr) interruptCleanup();
  ::_exit(128 + signalNumber);
}
}  // namespace

void OnInterrupt(void (*cleanup)() noexcept) {
  interruptCleanup = cleanup;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // SIGHUP too: a terminal closed under a running batch.
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signalNumber);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

namespace {
int endPipe[2] = {-1, -1};
std::atomic<int> endSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
void (*endCleanup)() noexcept = nullptr;

extern "C" void OnEndSignal(int signalNumber) {
  int none = 0;
  if (!endSignal.compare_exchange_strong(none, signalNumber)) {
    // Asked again: the program has not ended in time for the sender.
    if (endCleanup != nullptr) endCleanup();
    ::_exit(128 + signalNumber);
  }
  const int saved = errno;
  const char wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(endPipe[1], &wake, 1);
  errno = saved;
}
}  // namespace

FileHandle WatchEndRequests(void (*cleanup)() noexcept) {
  endCleanup = cleanup;
  if (endPipe[0] < 0) {
    int ends[2];
    if (::pipe(ends) != 0) return kNoFile;
    for (const int end : ends) {
      ::fcntl(end, F_SETFD, FD_CLOEXEC);
      ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    endPipe[0] = ends[0];
    endPipe[1] = ends[1];
  }
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signalNumber);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
  return endPipe[0];
}

void StartWithEndSignalsHeld(const std::function<void()>& start) {
  sigset_t held, before;
  sigemptyset(&held);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signalNumber);
  ::pthread_sigmask(SIG_BLOCK, &held, &before);
  try {
    start();
  } catch (...) {
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    throw;
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

int TakeEndRequest() {
  char drained[64];
  while (endPipe[0] >= 0 && ::read(endPipe[0], drained, sizeof drained) > 0) {
  }
  return endSignal.load();
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

std::size_t PageSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

void AdviseLargePages(void* start, std::size_t length) { ::madvise(start, length, MADV_HUGEPAGE); }

bool PrepareForWriting(void* start, std::size_t length) {
  return ::madvise(start, length, MADV_POPULATE_WRITE) == 0;
}

std::string NameKey(const std::string& path) { return path; }

std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::path(text); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace morvane::platform
