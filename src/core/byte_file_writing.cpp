#include <algorithm>
#include <cstring>

#include "core/byte_file.h"
#include "core/platform.h"

// A file being written: its buffer, the writes that go past it straight to
// the disk, earlier bytes overwritten, and the buffers handed to a second
// thread when the file writes behind.
namespace morvane {

void ByteFile::WriteSlow(const void* source, std::size_t count) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (!writing_) RaiseNotOpen();
  if (count == 0) return;
  if (behind_) {
    // Through the buffer, which the second thread takes whole: the
    // caller's memory may change once the call is over.
    const auto* in = static_cast<const unsigned char*>(source);
    while (count > 0) {
      if (cursor_ == bufferSize_) Spill();
      const std::size_t take = std::min(count, bufferSize_ - cursor_);
      std::memcpy(buffer_.get() + cursor_, in, take);
      cursor_ += take;
      in += take;
      count -= take;
    }
    return;
  }
  if (count > bufferSize_ - cursor_) Flush();
  if (count >= bufferSize_) {
    WriteThrough(static_cast<const unsigned char*>(source), count, bufferStart_);
    bufferStart_ += static_cast<std::int64_t>(count);
    knownSize_ = std::max(knownSize_, bufferStart_);
    return;
  }
  std::memcpy(buffer_.get() + cursor_, source, count);
  cursor_ += count;
}

void ByteFile::UseWriteBehind() {
  if (writing_ && !behind_) behind_ = WriteBehind::Start(bufferSize_);
}

void ByteFile::Spill() {
  if (!behind_) return Flush();
  if (cursor_ == 0) return;
  const int error = behind_->HandOver(handle_, buffer_, cursor_, bufferStart_);
  if (error != 0) {
    // As Flush: the bytes not written are dropped.
    cursor_ = 0;
    RaiseSystemError(error);
  }
  bufferStart_ += static_cast<std::int64_t>(cursor_);
  cursor_ = 0;
  knownSize_ = std::max(knownSize_, bufferStart_);
}

void ByteFile::WaitBehind() {
  if (!behind_) return;
  const int error = behind_->Wait();
  if (error != 0) RaiseSystemError(error);
}

void ByteFile::Flush() {
  if (!writing_) return;
  if (behind_) {
    Spill();
    return WaitBehind();
  }
  std::size_t done = 0;
  while (done < cursor_) {
    int error = 0;
    const std::int64_t put =
        platform::WriteAt(handle_, buffer_.get() + done, cursor_ - done, bufferStart_, error);
    if (put <= 0) {
      // What fitted stays on disk; the rest of the buffer is dropped so that
      // the clean-up does not try it again.
      if (put == 0) error = platform::DiskFullError();
      cursor_ = 0;
      RaiseSystemError(error);
    }
    done += static_cast<std::size_t>(put);
    bufferStart_ += put;
  }
  cursor_ = 0;
  knownSize_ = std::max(knownSize_, bufferStart_);
}

void ByteFile::Overwrite(std::int64_t position, const void* source, std::size_t count) {
  if (faults::detail::Tick()) faults::detail::Raise(path_);
  if (!writing_) RaiseNotOpen();
  const std::int64_t end = position + static_cast<std::int64_t>(count);
  if (position < 0 || end > Size()) throw CommandError(kBadSeek);
  const auto* in = static_cast<const unsigned char*>(source);
  if (position >= bufferStart_ && end <= bufferStart_ + static_cast<std::int64_t>(cursor_)) {
    std::memcpy(buffer_.get() + (position - bufferStart_), in, count);
    return;
  }
  // Bytes still in the buffer reach the disk first, so that the later ones
  // win.
  if (end > bufferStart_) Flush();
  WriteThrough(in, count, position);
}

void ByteFile::WriteThrough(const unsigned char* source, std::size_t count, std::int64_t position) {
  // Straight to the disk, after every buffer handed over: an overwrite may
  // fall in one of them.
  WaitBehind();
  while (count > 0) {
    int error = 0;
    const std::int64_t put = platform::WriteAt(handle_, source, count, position, error);
    if (put < 0) RaiseSystemError(error);
    if (put == 0) throw CommandError(kDiskFull);
    position += put;
    source += put;
    count -= static_cast<std::size_t>(put);
  }
}

}  // namespace morvane
