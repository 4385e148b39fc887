#include "core/byte_file.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "core/live_temporaries.h"
#include "core/platform.h"

namespace morvane {

namespace {
// A file being read holds the largest block the read-ahead takes.
constexpr std::size_t kBufferSize = ReadAhead::kLargeBlock;
constexpr std::int64_t kPositionLimit = std::int64_t{1} << 31;

// The write buffers of closed files, kept for the next file: a batch opens
// and closes an output for every stream, and a large buffer is a mapping of
// its own each time it is made.
constexpr std::size_t kMostSpareBuffers = 4;
std::mutex spareBuffersLock;
std::vector<std::unique_ptr<unsigned char[]>>& SpareBuffers() {
  static auto* spare = new std::vector<std::unique_ptr<unsigned char[]>>();  // lives to the end
  return *spare;
}

std::int64_t faultTarget = 0;
std::int64_t faultCount = 0;
int faultError = 0;  // the platform's error number
bool faultWasRename = false;
}  // namespace

namespace faults {
namespace detail {
bool armed = false;

bool Tick() {
  if (!armed) return false;
  ++faultCount;
  if (faultCount == faultTarget) {
    armed = false;
    faultWasRename = false;
    return true;
  }
  return false;
}

void Raise(const std::string& path) { throw CommandError::FromSystem(faultError, path); }
}  // namespace detail

void FailOperation(std::int64_t k, int errnoValue) {
  faultTarget = k;
  faultCount = 0;
  faultError = platform::SystemErrorFromErrno(errnoValue);
  detail::armed = k > 0;
}

void Disarm() {
  detail::armed = false;
  faultCount = 0;
}

std::int64_t OperationsPerformed() { return faultCount; }

bool LastFaultWasRename() { return faultWasRename; }
}  // namespace faults

ByteFile::~ByteFile() {
  CloseQuietly();
  if (bufferSize_ != kWriteBufferSize) return;
  const std::lock_guard<std::mutex> lock(spareBuffersLock);
  if (SpareBuffers().size() < kMostSpareBuffers) SpareBuffers().push_back(std::move(buffer_));
}

void ByteFile::RaiseSystemError(int error) const { throw CommandError::FromSystem(error, path_); }

void ByteFile::RaiseNotOpen() const { throw CommandError(kFileNotOpen); }

void ByteFile::Open(const std::string& path, Mode mode) {
  CloseQuietly();
  path_ = path;
  if (faults::detail::Tick()) faults::detail::Raise(path);
  if (mode == Mode::kRead) {
    OpenForReading(path);
  } else {
    CreateTemporary(path);
  }
  reading_ = mode == Mode::kRead;
  writing_ = !reading_;
  const std::size_t size = reading_ ? kBufferSize : kWriteBufferSize;
  if (bufferSize_ != size) {
    buffer_.reset();
    if (writing_) {
      const std::lock_guard<std::mutex> lock(spareBuffersLock);
      if (!SpareBuffers().empty()) {
        buffer_ = std::move(SpareBuffers().back());
        SpareBuffers().pop_back();
      }
    }
    if (!buffer_) buffer_.reset(new unsigned char[size]);
    bufferSize_ = size;
  }
  bufferStart_ = 0;
  cursor_ = 0;
  end_ = 0;
  readAhead_ = ReadAhead();
  range_.reset();
}

void ByteFile::OpenForReading(const std::string& path) {
  const platform::OpenedFile opened = platform::OpenForReading(path);
  if (opened.notRegular) throw CommandError(kNoFileCode, kNotRegularFileText);
  if (opened.error != 0) RaiseSystemError(opened.error);
  handle_ = opened.handle;
  knownSize_ = opened.size;
}

void ByteFile::CreateTemporary(const std::string& path) {
  // What stands at the name now: a folder in the way, and a file that its
  // owner keeps from being written, still fail as a creation over them
  // would; a link is replaced, never followed.
  platform::Target target;
  if (const int error = platform::InspectTarget(path, target); error != 0) RaiseSystemError(error);
  replacing_ = target.exists;
  platform::FileHandle handle = platform::kNoFile;
  int error = 0;
  for (int attempt = 0; attempt < 100 && handle == platform::kNoFile; ++attempt) {
    temporaryPath_ = TemporaryPathBeside(path);
    registrySlot_ = RegisterTemporary(temporaryPath_);
    error = platform::CreateExclusive(temporaryPath_, target, handle);
    if (error != 0) {
      UnregisterTemporary(registrySlot_);
      registrySlot_ = -1;
      temporaryPath_.clear();
      if (!platform::IsAlreadyExists(error)) RaiseSystemError(error);
    }
  }
  if (handle == platform::kNoFile) RaiseSystemError(error);
  handle_ = handle;
  knownSize_ = 0;
}

int ByteFile::PutInPlace() noexcept {
  if (temporaryPath_.empty()) return 0;
  int error = 0;
  if (faults::detail::Tick()) {
    error = faultError;
    faultWasRename = true;
  } else {
    error = platform::Rename(temporaryPath_, path_);
  }
  if (error != 0) platform::Remove(temporaryPath_.c_str());
  UnregisterTemporary(registrySlot_);
  registrySlot_ = -1;
  temporaryPath_.clear();
  return error;
}

void ByteFile::ReadSlow(void* destination, std::size_t count) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (!reading_) RaiseNotOpen();
  auto* out = static_cast<unsigned char*>(destination);
  while (count > 0) {
    if (cursor_ == end_) {
      bufferStart_ += static_cast<std::int64_t>(end_);
      cursor_ = end_ = 0;
      if (count >= bufferSize_) {
        // A large read goes straight to the caller.
        int error = 0;
        const std::int64_t got = ReadAt(out, count, bufferStart_, error);
        if (got < 0) RaiseSystemError(error);
        bufferStart_ += got;
        if (static_cast<std::size_t>(got) < count) throw CommandError(kReadBeyondEnd);
        return;
      }
      const std::size_t amount = readAhead_.Fill(bufferStart_, count, knownSize_);
      int error = 0;
      const std::int64_t got = ReadAt(buffer_.get(), amount, bufferStart_, error);
      if (got < 0) RaiseSystemError(error);
      if (got == 0) throw CommandError(kReadBeyondEnd);
      end_ = static_cast<std::size_t>(got);
    }
    const std::size_t take = std::min(count, end_ - cursor_);
    std::memcpy(out, buffer_.get() + cursor_, take);
    cursor_ += take;
    out += take;
    count -= take;
  }
}

void ByteFile::RefreshSize() {
  // Another program may have added to the file since it was opened; a
  // range keeps its end.
  if (range_) return;
  const std::int64_t size = platform::SizeOf(handle_);
  if (size >= 0) knownSize_ = size;
}

void ByteFile::CopyTo(ByteFile& destination, std::size_t count) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (!reading_) RaiseNotOpen();
  const std::int64_t from = bufferStart_ + static_cast<std::int64_t>(cursor_);
  if (from + static_cast<std::int64_t>(count) > knownSize_) {
    RefreshSize();
    if (from + static_cast<std::int64_t>(count) > knownSize_) throw CommandError(kReadBeyondEnd);
  }
  if (faults::detail::Tick()) faults::detail::Raise(destination.path_);
  if (!destination.writing_) destination.RaiseNotOpen();

  while (count > 0) {
    if (destination.cursor_ == destination.bufferSize_) destination.Spill();
    // Written behind, the buffer is another after each spill.
    unsigned char* room = destination.buffer_.get() + destination.cursor_;
    const std::size_t roomSize = std::min(count, destination.bufferSize_ - destination.cursor_);
    std::size_t got = 0;
    if (cursor_ < end_) {
      // What the buffer already holds goes first.
      got = std::min(roomSize, end_ - cursor_);
      std::memcpy(room, buffer_.get() + cursor_, got);
      cursor_ += got;
    } else {
      bufferStart_ += static_cast<std::int64_t>(end_);
      cursor_ = end_ = 0;
      int error = 0;
      const std::int64_t read = ReadAt(room, roomSize, bufferStart_, error);
      if (read < 0) RaiseSystemError(error);
      // The file shrank under the copy.
      if (read == 0) throw CommandError(kReadBeyondEnd);
      got = static_cast<std::size_t>(read);
      bufferStart_ += read;
    }
    destination.cursor_ += got;
    count -= got;
  }
  readAhead_.Copied();
}

void ByteFile::Seek(std::int64_t position) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (handle_ == platform::kNoFile) RaiseNotOpen();
  if (position < 0 || position >= kPositionLimit) throw CommandError(kBadSeek);
  if (writing_) {
    Flush();
    bufferStart_ = position;
    return;
  }
  readAhead_.Moved(bufferStart_ + static_cast<std::int64_t>(cursor_), position);
  if (position >= bufferStart_ && position <= bufferStart_ + static_cast<std::int64_t>(end_)) {
    cursor_ = static_cast<std::size_t>(position - bufferStart_);
    return;
  }
  bufferStart_ = position;
  cursor_ = end_ = 0;
}

std::int32_t ByteFile::Position() const {
  if (handle_ == platform::kNoFile) RaiseNotOpen();
  return static_cast<std::int32_t>(bufferStart_ + static_cast<std::int64_t>(cursor_));
}

std::int64_t ByteFile::Size() {
  if (handle_ == platform::kNoFile) RaiseNotOpen();
  if (writing_) return std::max(knownSize_, bufferStart_ + static_cast<std::int64_t>(cursor_));
  return knownSize_;
}

bool ByteFile::Eof() {
  if (handle_ == platform::kNoFile) RaiseNotOpen();
  const std::int64_t position = bufferStart_ + static_cast<std::int64_t>(cursor_);
  if (position < Size()) return false;
  if (reading_) {
    RefreshSize();
    return position >= knownSize_;
  }
  return true;
}

void ByteFile::Close() {
  if (faults::detail::Tick()) {
    CloseQuietly();
    faults::detail::Raise(path_);
  }
  if (handle_ == platform::kNoFile) RaiseNotOpen();
  int error = 0;
  if (writing_) {
    try {
      Flush();
    } catch (const CommandError&) {
      CloseQuietly();
      throw;
    }
    // Over an earlier file the bytes reach the disk before the name does, so
    // that a power cut leaves the earlier file or the whole new one.
    if (replacing_) error = platform::SyncData(handle_);
    behind_.reset();
  }
  const int closing = platform::Close(handle_);
  if (error == 0) error = closing;
  handle_ = platform::kNoFile;
  reading_ = writing_ = false;
  // What was written is put in place even when the close failed.
  const int placing = PutInPlace();
  if (error != 0) RaiseSystemError(error);
  if (placing != 0) RaiseSystemError(placing);
}

void ByteFile::CloseQuietly() noexcept {
  if (handle_ == platform::kNoFile) return;
  if (writing_) {
    try {
      Flush();
    } catch (...) {
    }
  }
  behind_.reset();
  platform::Close(handle_);
  handle_ = platform::kNoFile;
  reading_ = writing_ = false;
  cursor_ = end_ = 0;
  PutInPlace();
}

void ByteFile::Discard() noexcept {
  if (handle_ == platform::kNoFile) return;
  behind_.reset();
  platform::Close(handle_);
  handle_ = platform::kNoFile;
  reading_ = writing_ = false;
  cursor_ = end_ = 0;
  if (temporaryPath_.empty()) return;
  platform::Remove(temporaryPath_.c_str());
  UnregisterTemporary(registrySlot_);
  registrySlot_ = -1;
  temporaryPath_.clear();
}

}  // namespace morvane
