#include "core/byte_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace morvane {

namespace {
// A file being read holds the largest block the read-ahead takes.
constexpr std::size_t kBufferSize = ReadAhead::kLargeBlock;
// A file being written gathers more before each write call: the copies of
// Extract Chunks put whole sound data records into it.
constexpr std::size_t kWriteBufferSize = 512 * 1024;
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
int faultErrno = 0;
}  // namespace

namespace faults {
namespace detail {
bool armed = false;

bool Tick() {
  if (!armed) return false;
  ++faultCount;
  if (faultCount == faultTarget) {
    armed = false;
    return true;
  }
  return false;
}

void Raise(const std::string& path) { throw CommandError::FromSystem(faultErrno, path); }
}  // namespace detail

void FailOperation(std::int64_t k, int errnoValue) {
  faultTarget = k;
  faultCount = 0;
  faultErrno = errnoValue;
  detail::armed = k > 0;
}

void Disarm() {
  detail::armed = false;
  faultCount = 0;
}

std::int64_t OperationsPerformed() { return faultCount; }
}  // namespace faults

ByteFile::~ByteFile() {
  CloseQuietly();
  if (bufferSize_ != kWriteBufferSize) return;
  const std::lock_guard<std::mutex> lock(spareBuffersLock);
  if (SpareBuffers().size() < kMostSpareBuffers) SpareBuffers().push_back(std::move(buffer_));
}

void ByteFile::RaiseErrno(int errnoValue) const { throw CommandError::FromSystem(errnoValue, path_); }

void ByteFile::RaiseNotOpen() const { throw CommandError(kFileNotOpen); }

void ByteFile::Open(const std::string& path, Mode mode) {
  CloseQuietly();
  path_ = path;
  if (faults::detail::Tick()) faults::detail::Raise(path);
  const int flags = mode == Mode::kRead ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) RaiseErrno(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    RaiseErrno(error);
  }
  fd_ = fd;
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
  knownSize_ = reading_ ? info.st_size : 0;
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
        const ssize_t got = ::pread(fd_, out, count, bufferStart_);
        if (got < 0) RaiseErrno(errno);
        bufferStart_ += got;
        if (static_cast<std::size_t>(got) < count) throw CommandError(kReadBeyondEnd);
        return;
      }
      const std::size_t amount = readAhead_.Fill(bufferStart_, count, knownSize_);
      const ssize_t got = ::pread(fd_, buffer_.get(), amount, bufferStart_);
      if (got < 0) RaiseErrno(errno);
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

void ByteFile::WriteSlow(const void* source, std::size_t count) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (!writing_) RaiseNotOpen();
  if (count == 0) return;
  if (count > bufferSize_ - cursor_) Flush();
  if (count >= bufferSize_) {
    const auto* in = static_cast<const unsigned char*>(source);
    while (count > 0) {
      const ssize_t put = ::pwrite(fd_, in, count, bufferStart_);
      if (put < 0) RaiseErrno(errno);
      if (put == 0) throw CommandError(kDiskFull);
      bufferStart_ += put;
      in += put;
      count -= static_cast<std::size_t>(put);
    }
    knownSize_ = std::max(knownSize_, bufferStart_);
    return;
  }
  std::memcpy(buffer_.get() + cursor_, source, count);
  cursor_ += count;
}

void ByteFile::RefreshSize() {
  // Another program may have added to the file since it was opened.
  struct stat info {};
  if (::fstat(fd_, &info) == 0) knownSize_ = info.st_size;
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

  unsigned char* const out = destination.buffer_.get();
  while (count > 0) {
    if (destination.cursor_ == destination.bufferSize_) destination.Flush();
    unsigned char* room = out + destination.cursor_;
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
      const ssize_t read = ::pread(fd_, room, roomSize, bufferStart_);
      if (read < 0) RaiseErrno(errno);
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

void ByteFile::Flush() {
  if (!writing_) return;
  std::size_t done = 0;
  while (done < cursor_) {
    const ssize_t put = ::pwrite(fd_, buffer_.get() + done, cursor_ - done, bufferStart_);
    if (put <= 0) {
      // What fitted stays on disk; the rest of the buffer is dropped so that
      // the clean-up does not try it again.
      const int error = put < 0 ? errno : ENOSPC;
      cursor_ = 0;
      RaiseErrno(error);
    }
    done += static_cast<std::size_t>(put);
    bufferStart_ += put;
  }
  cursor_ = 0;
  knownSize_ = std::max(knownSize_, bufferStart_);
}

void ByteFile::Seek(std::int64_t position) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (fd_ < 0) RaiseNotOpen();
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
  if (fd_ < 0) RaiseNotOpen();
  return static_cast<std::int32_t>(bufferStart_ + static_cast<std::int64_t>(cursor_));
}

std::int64_t ByteFile::Size() {
  if (fd_ < 0) RaiseNotOpen();
  if (writing_) return std::max(knownSize_, bufferStart_ + static_cast<std::int64_t>(cursor_));
  return knownSize_;
}

bool ByteFile::Eof() {
  if (fd_ < 0) RaiseNotOpen();
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
  if (fd_ < 0) RaiseNotOpen();
  int error = 0;
  if (writing_) {
    try {
      Flush();
    } catch (const CommandError&) {
      CloseQuietly();
      throw;
    }
  }
  if (::close(fd_) != 0) error = errno;
  fd_ = -1;
  reading_ = writing_ = false;
  if (error != 0 && error != EINTR) RaiseErrno(error);
}

void ByteFile::CloseQuietly() noexcept {
  if (fd_ < 0) return;
  if (writing_) {
    try {
      Flush();
    } catch (...) {
    }
  }
  ::close(fd_);
  fd_ = -1;
  reading_ = writing_ = false;
  cursor_ = end_ = 0;
}

}  // namespace morvane
