// The platform layer in the browser's worker. A path names either a file the
// user dropped on the page (read only, through the worker's File) or a file of
// the page's private storage (the origin private file system), where every
// output is written; the calls that reach the storage are asynchronous in
// the browser and wait here through Asyncify. The JavaScript side is
// src/web/morvane_files.js; paths without a leading slash are taken from the
// folder the page set for the present command.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "core/platform.h"

extern "C" {
// Each gives a handle (1 or more), or a negative errno value.
int morvane_open_read(const char* path, double* size);
int morvane_create(const char* path);
// Each gives the bytes moved, or a negative errno value.
double morvane_read(int handle, unsigned char* destination, double count, double offset);
double morvane_write(int handle, const unsigned char* source, double count, double offset);
double morvane_size(int handle);
int morvane_flush(int handle);
int morvane_close(int handle);
// 0 for nothing there, 1 a file, 2 a folder, or a negative errno value; a
// file's size when size is not null (one more call to the storage).
int morvane_kind_of(const char* path, double* size);
int morvane_rename(const char* from, const char* to);
int morvane_remove(const char* path);
int morvane_make_folders(const char* path);
}

namespace morvane::platform {

namespace {

int Failure(double answer) { return answer < 0 ? static_cast<int>(-answer) : 0; }

}  // namespace

bool IsSeparator(char c) { return c == '/'; }

OpenedFile OpenForReading(const std::string& path) {
  OpenedFile opened;
  double size = 0;
  const int answer = morvane_open_read(path.c_str(), &size);
  if (answer < 0) {
    opened.error = -answer;
  } else {
    opened.handle = answer;
    opened.size = static_cast<std::int64_t>(size);
  }
  return opened;
}

int InspectTarget(const std::string& path, Target& target) {
  target = Target();
  const int kind = morvane_kind_of(path.c_str(), nullptr);
  if (kind < 0) return kind == -ENOENT ? 0 : -kind;
  target.exists = kind != 0;
  return kind == 2 ? EISDIR : 0;
}

// The storage has no exclusive creation: a file at the name that holds
// anything, or that another handle has open, is refused as existing, and an
// empty one, which loses nothing, is taken.
int CreateExclusive(const std::string& path, const Target&, FileHandle& handle) {
  const int answer = morvane_create(path.c_str());
  if (answer < 0) return -answer;
  handle = answer;
  return 0;
}

bool IsAlreadyExists(int error) { return error == EEXIST; }

// A dropped file is read a window at a time by the JavaScript side, which
// reads the next windows ahead on a thread of its own; a read within the
// present window is a copy, with no wait.
std::int64_t ReadAt(FileHandle handle, void* destination, std::size_t count, std::int64_t offset,
                    int& error) {
  const double got = morvane_read(static_cast<int>(handle), static_cast<unsigned char*>(destination),
                                  static_cast<double>(count), static_cast<double>(offset));
  if (got < 0) error = Failure(got);
  return got < 0 ? -1 : static_cast<std::int64_t>(got);
}

std::int64_t WriteAt(FileHandle handle, const void* source, std::size_t count, std::int64_t offset,
                     int& error) {
  const double put = morvane_write(static_cast<int>(handle), static_cast<const unsigned char*>(source),
                                   static_cast<double>(count), static_cast<double>(offset));
  if (put < 0) error = Failure(put);
  return put < 0 ? -1 : static_cast<std::int64_t>(put);
}

int DiskFullError() { return ENOSPC; }

std::int64_t SizeOf(FileHandle handle) {
  return static_cast<std::int64_t>(morvane_size(static_cast<int>(handle)));
}

int SyncData(FileHandle handle) { return -morvane_flush(static_cast<int>(handle)); }

int Close(FileHandle handle) { return -morvane_close(static_cast<int>(handle)); }

int Rename(const std::string& from, const std::string& to) {
  return -morvane_rename(from.c_str(), to.c_str());
}

void Remove(const char* path) noexcept { morvane_remove(path); }

bool FileSizeByName(const std::string& path, std::int64_t& size) {
  double bytes = 0;
  if (path.empty() || morvane_kind_of(path.c_str(), &bytes) != 1) return false;
  size = static_cast<std::int64_t>(bytes);
  return true;
}

void RandomBytes(unsigned char* bytes, std::size_t count) {
  // The browser's random source, at most 256 bytes a call.
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min<std::size_t>(count - done, 256);
    if (::getentropy(bytes + done, piece) != 0) std::memset(bytes + done, 0x5A, piece);
    done += piece;
  }
}

int CodeFromSystemError(int error, const std::string&) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
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

// A page is closed, never interrupted: what it left unfinished under a
// temporary name is cleared by the page's next start.
void OnInterrupt(void (*)() noexcept) {}

// A page has no signals: closing its tab ends the worker, and the next load
// of the page clears what a session left in its storage.
FileHandle WatchEndRequests(void (*)() noexcept) { return kNoFile; }

int TakeEndRequest() { return 0; }

void StartWithEndSignalsHeld(const std::function<void()>& start) { start(); }

bool StandardErrorIsTerminal() { return false; }

std::size_t TerminalColumns() { return 0; }

std::size_t PageSize() { return 64 * 1024; }

void AdviseLargePages(void*, std::size_t) {}

bool PrepareForWriting(void*, std::size_t) { return false; }

std::string NameKey(const std::string& path) { return path; }

// The private storage has no links: the path's "." and ".." steps are all
// there is to resolve.
std::string ResolvedPath(const std::string& path) {
  std::string resolved = Utf8FromPath(PathFromUtf8(path).lexically_normal());
  return resolved.empty() ? path : resolved;
}

std::string MakeFolders(const std::string& path) {
  const int answer = morvane_make_folders(path.c_str());
  if (answer == -ENOTDIR) return "not a folder";
  return answer < 0 ? SystemErrorText(-answer) : std::string();
}

std::filesystem::path PathFromUtf8(const std::string& text) { return std::filesystem::path(text); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.string(); }

}  // namespace morvane::platform
