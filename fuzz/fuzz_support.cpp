#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace morvane::fuzz {

namespace {

std::string MakeFolder() {
  std::string base = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    base = tmp;
  } else if (::access("/dev/shm", W_OK) == 0) {
    // A memory file system keeps the many small files of a run off the disk.
    base = "/dev/shm";
  }
  std::string pattern = base + "/morvane-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

std::string* folder = nullptr;

void RemoveFolder() {
  if (folder == nullptr) return;
  std::error_code ec;
  std::filesystem::remove_all(*folder, ec);
}

}  // namespace

const std::string& Folder() {
  if (folder == nullptr) {
    folder = new std::string(MakeFolder());
    std::atexit(RemoveFolder);
  }
  return *folder;
}

std::string InFolder(const std::string& name) { return Folder() + "/" + name; }

void WriteWhole(const std::string& path, const unsigned char* bytes, std::size_t count) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail(__FILE__, __LINE__, "cannot create " + path);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(fd, bytes + done, count - done);
    if (put <= 0) Fail(__FILE__, __LINE__, "cannot write " + path);
    done += static_cast<std::size_t>(put);
  }
  ::close(fd);
}

bool ReadWhole(const std::string& path, Bytes& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char piece[8192];
  for (;;) {
    const ssize_t got = ::read(fd, piece, sizeof piece);
    if (got < 0) Fail(__FILE__, __LINE__, "cannot read " + path);
    if (got == 0) break;
    out.insert(out.end(), piece, piece + got);
  }
  ::close(fd);
  return true;
}

std::string FreshInput(const std::string& name, const unsigned char* bytes, std::size_t count,
                       const std::string& output) {
  const std::string path = InFolder(name);
  WriteWhole(path, bytes, count);
  RemoveInFolder(output);
  return path;
}

std::vector<std::string> FolderEntries() {
  std::vector<std::string> names;
  DIR* dir = ::opendir(Folder().c_str());
  if (dir == nullptr) Fail(__FILE__, __LINE__, "cannot list " + Folder());
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveInFolder(const std::string& name) {
  if (::unlink(InFolder(name).c_str()) != 0 && errno != ENOENT)
    Fail(__FILE__, __LINE__, "cannot remove " + name);
}

std::string CheckedEnd(const SharedState& state, const CommandResult& result) {
  const std::string error = result.error.value_or("");
  FUZZ_CHECK(result.opened && !result.mapMissing, "the input or its map did not open");
  FUZZ_CHECK(result.notices.empty(), "a notice: " + result.notices.front());
  FUZZ_CHECK(error.empty() || IsKnownErrorText(error), "unknown error text " + error);
  FUZZ_CHECK(result.completed == error.empty(), "completed and an error, or neither");
  FUZZ_CHECK(!state.InputFile.IsOpen() && !state.SecondFile.IsOpen(), "a file left open");
  FUZZ_CHECK(!state.FileOpened && !state.MapMissing && !state.StopRequested && state.ProgressStep == 1,
             "the closing steps left a flag set or the progress step off 1");
  return error;
}

bool IsKnownErrorText(const std::string& text) {
  static const char* const kKnown[] = {"Read beyond end of file", "Disk full", "I/O error 22",
                                       "I/O error 103"};
  return std::find(std::begin(kKnown), std::end(kKnown), text) != std::end(kKnown);
}

void Fail(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what.c_str());
  std::abort();
}

}  // namespace morvane::fuzz
