#include "digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace morvane::bench {

void Digest::Mix(std::uint64_t word) {
  state_ ^= word;
  state_ *= 0x100000001b3u;
  state_ ^= state_ >> 29;
}

void Digest::Add(const unsigned char* bytes, std::size_t count) {
  length_ += count;
  while (count > 0 && pendingCount_ != 0) {
    pending_[pendingCount_++] = *bytes++;
    --count;
    if (pendingCount_ == sizeof pending_) {
      std::uint64_t word;
      std::memcpy(&word, pending_, sizeof word);
      Mix(word);
      pendingCount_ = 0;
    }
  }
  for (; count >= 8; count -= 8, bytes += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    Mix(word);
  }
  std::memcpy(pending_, bytes, count);
  pendingCount_ = count;
}

std::uint64_t Digest::Value() const {
  Digest copy = *this;
  unsigned char tail[8] = {};
  std::memcpy(tail, pending_, pendingCount_);
  std::uint64_t word;
  std::memcpy(&word, tail, sizeof word);
  copy.Mix(word);
  copy.Mix(length_);
  return copy.state_;
}

FileDigest DigestOfFile(const std::string& path) {
  FileDigest result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return result;
  Digest digest;
  std::vector<unsigned char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      ::close(fd);
      return result;
    }
    if (got == 0) break;
    digest.Add(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(fd);
  result.length = static_cast<std::int64_t>(digest.Length());
  result.value = digest.Value();
  return result;
}

std::string Hex(std::uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace morvane::bench
