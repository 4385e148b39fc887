#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane::bench {

// A 64-bit digest of a byte sequence, the same however the sequence is cut
// into pieces: how the benchmark tells that a pass wrote what it should.
class Digest {
 public:
  void Add(const unsigned char* bytes, std::size_t count);
  std::uint64_t Value() const;
  std::uint64_t Length() const { return length_; }

 private:
  void Mix(std::uint64_t word);

  std::uint64_t state_ = 0xcbf29ce484222325u;
  unsigned char pending_[8] = {};
  std::size_t pendingCount_ = 0;
  std::uint64_t length_ = 0;
};

// The digest of a whole file; the length is -1 when it cannot be read.
struct FileDigest {
  std::int64_t length = -1;
  std::uint64_t value = 0;
};
FileDigest DigestOfFile(const std::string& path);

std::string Hex(std::uint64_t value);

}  // namespace morvane::bench
