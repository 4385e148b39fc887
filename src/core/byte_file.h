#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/platform.h"
#include "core/read_ahead.h"
#include "core/write_behind.h"

namespace morvane {

// Test switch of the file layer: the k-th file operation from now on (open,
// read, write, seek, close, and the rename that puts a new file in place;
// counted per call, not per system call) fails as if the platform had
// answered with its error for errnoValue. Off unless armed.
namespace faults {
void FailOperation(std::int64_t k, int errnoValue);
void Disarm();
// File operations performed since the last FailOperation or Disarm.
std::int64_t OperationsPerformed();
// True when the operation that failed last was the rename of a new file.
bool LastFaultWasRename();
namespace detail {
extern bool armed;
bool Tick();  // true when this operation is the one that must fail
[[noreturn]] void Raise(const std::string& path);
}  // namespace detail
}  // namespace faults

// New files live under a hidden temporary name in their folder until they are
// closed. The names of those alive now are kept where a signal handler can
// reach them: RemoveLiveTemporaries unlinks them with async-signal-safe calls
// only, so an interrupted program leaves every earlier file as it was.
void RemoveLiveTemporaries() noexcept;
// How many temporaries the registry keeps at once: the batch converter holds
// up to two outputs for each of its 32 streams alive at a time, and a movie
// and its WebM for each of its 8 films, and a poster.
inline constexpr int kMostLiveTemporaries = 96;
// A file being written gathers this much before each write call (the copies
// of Extract Chunks put whole sound data records into it); a write of this
// many bytes or more goes straight to the system, without a copy.
inline constexpr std::size_t kWriteBufferSize = 512 * 1024;
// Whether a file name (without its folder) is one of those temporary names:
// a leading dot, and ".morvane-" followed by six characters at its end.
bool IsTemporaryName(const std::string& name);

// Where the bytes of a file that lies inside another one are (a file of a
// disc image): `length` bytes from `start` of the container's data. The
// data begins at `base` of the container; with `sectorSize` 0 it runs on
// unbroken, else it fills `sectorData` bytes at `sectorDataOffset` of each
// sector of that size (the 2048 data bytes of a raw 2352-byte sector).
struct FileRange {
  std::string container;
  std::int64_t base = 0;
  std::int32_t sectorSize = 0;
  std::int32_t sectorDataOffset = 0;
  std::int32_t sectorData = 0;
  std::int64_t start = 0;
  std::int64_t length = 0;
};

// What a pass reads: a file of its own, named by its path, or a range of
// another file, named to the user by `path` (the image's path and the disc
// file's path within it).
struct InputSource {
  InputSource() = default;
  InputSource(std::string name) : path(std::move(name)) {}  // NOLINT: a path is a source
  InputSource(const char* name) : path(name) {}             // NOLINT
  InputSource(std::string name, FileRange inside) : path(std::move(name)), range(std::move(inside)) {}
  std::string path;
  std::optional<FileRange> range;
};

// A file for byte-granular access: read exactly N, write exactly N, seek,
// position, end test, close. A file is opened either for reading or created
// for writing. Both directions are buffered, so reading 4 bytes at a time or
// copying in 10-byte blocks costs a memcpy, not a system call; how much each
// read of the file brings in follows the reader's recent moves (ReadAhead).
// Positions are signed 32-bit: a move to 2^31 or more, or before 0, fails.
//
// Only regular files are opened for reading, without ever blocking: a FIFO, a
// device, a socket or a folder is refused at once. A file is created as a new
// file under a temporary name in the same folder (exclusive creation, never
// through a link) and renamed onto its name when it is closed, on the ordinary
// close and the quiet close after an error alike: a link at the name is
// replaced, never written through, and the earlier file stays whole until
// then.
class ByteFile {
 public:
  enum class Mode { kRead, kCreate };

  ByteFile() = default;
  ~ByteFile();
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;

  // Opens an existing regular file for reading, or creates (empties) one for
  // writing. Any earlier opening is dropped first.
  void Open(const std::string& path, Mode mode);
  // Opens a source for reading: a file, or a range of one, whose positions
  // count from the range's first byte and whose end is the range's end.
  void Open(const InputSource& source);
  bool IsOpen() const noexcept { return handle_ != platform::kNoFile; }
  const std::string& Path() const noexcept { return path_; }

  // The fast paths serve 1 or more bytes from the buffer (count - 1 wraps
  // for 0, which takes the slow path and its checks).
  void Read(void* destination, std::size_t count) {
    if (!faults::detail::armed && reading_ && count - 1 < end_ - cursor_) {
      std::memcpy(destination, buffer_.get() + cursor_, count);
      cursor_ += count;
      return;
    }
    ReadSlow(destination, count);
  }

  void Write(const void* source, std::size_t count) {
    if (!faults::detail::armed && writing_ && count - 1 < bufferSize_ - cursor_) {
      std::memcpy(buffer_.get() + cursor_, source, count);
      cursor_ += count;
      return;
    }
    WriteSlow(source, count);
  }

  // Reads count bytes at the position and writes them to destination, as
  // Read then destination.Write would, but straight from the file into the
  // destination's buffer: one read and one write operation. When fewer bytes
  // remain than count, nothing is copied and the read fails; a failure of
  // the writing side leaves what went before it written.
  void CopyTo(ByteFile& destination, std::size_t count);

  // Overwrites count bytes of a file being written at an earlier position,
  // within what was written (a size filled in once what it counts is
  // there), and leaves the position where it is: in the buffer while they
  // are still there, else in place on the disk.
  void Overwrite(std::int64_t position, const void* source, std::size_t count);

  void Seek(std::int64_t position);
  std::int32_t Position() const;
  // True when the position is at or beyond the end of the file.
  bool Eof();
  std::int64_t Size();

  // From now on the file's full buffers are written by a second thread
  // while the next is filled (WriteBehind), where there is one: for a file
  // written in long runs whose bytes cost something to make. A failed write
  // is raised by the next call that writes a buffer, Flush or Close. For a
  // file being created.
  void UseWriteBehind();
  bool WritesBehind() const noexcept { return behind_ != nullptr; }

  // Writes what is buffered; a file being written then holds all that was
  // given to it, or raises the failure ("Disk full") now.
  void Flush();
  // Writes what is buffered, closes and puts a new file in place; raises the
  // failure of any of them.
  void Close();
  // Closes (and puts a new file in place) without raising: the clean-up
  // after an error that is already on its way to the user.
  void CloseQuietly() noexcept;
  // Closes a file being created without putting it in place: its temporary
  // is removed and whatever stood at the name before stays as it was.
  void Discard() noexcept;

 private:
  void ReadSlow(void* destination, std::size_t count);
  // Takes the size of a file being read from the system again.
  void RefreshSize();
  void WriteSlow(const void* source, std::size_t count);
  // Writes the buffer, or hands it to the second thread when the file
  // writes behind.
  void Spill();
  // Waits for the writes handed over, and raises the failure of one.
  void WaitBehind();
  // Writes the bytes at position straight to the file, past the buffer.
  void WriteThrough(const unsigned char* source, std::size_t count, std::int64_t position);
  [[noreturn]] void RaiseSystemError(int error) const;
  [[noreturn]] void RaiseNotOpen() const;
  void OpenForReading(const std::string& path);
  // Reads up to count bytes at the position, from the file or its range:
  // as platform::ReadAt, 0 at the end.
  std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t position, int& error);
  std::int64_t ReadSectors(unsigned char* destination, std::size_t count, std::int64_t position, int& error);
  void CreateTemporary(const std::string& path);
  // Renames the temporary onto path_; gives the error of a failure (the
  // temporary is then removed), 0 on success or when there is none.
  int PutInPlace() noexcept;

  platform::FileHandle handle_ = platform::kNoFile;
  std::string path_;
  // The new file's temporary name while it is being written; empty otherwise.
  std::string temporaryPath_;
  int registrySlot_ = -1;
  bool replacing_ = false;  // something stood at the name when it was created
  bool reading_ = false;
  bool writing_ = false;
  // Left uninitialised: its pages are touched only as far as it is filled.
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t bufferSize_ = 0;
  // File offset of buffer_[0]. Reading: bytes [cursor_, end_) are unread.
  // Writing: bytes [0, cursor_) are waiting to be written.
  std::int64_t bufferStart_ = 0;
  std::size_t cursor_ = 0;
  std::size_t end_ = 0;
  ReadAhead readAhead_;
  std::int64_t knownSize_ = 0;
  std::optional<FileRange> range_;
  std::unique_ptr<WriteBehind> behind_;       // null: written as it goes
  std::unique_ptr<unsigned char[]> sectors_;  // raw sectors on their way to the data
  std::size_t sectorsSize_ = 0;
};

}  // namespace morvane
