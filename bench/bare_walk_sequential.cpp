// The least a walk that reads the whole file in order can cost: read calls
// of 256 KiB one after the other, each header looked at where it lies in
// the block. Prints the chunks it met.
//
//   bare-walk-sequential FILE

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
constexpr long kBlock = 256 * 1024;
constexpr long kHeader = 8;
// A header cut by a block's end is kept in front of the next block.
unsigned char buffer[kHeader + kBlock];
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  long long chunks = 0;
  long long blockStart = 0;  // file offset of buffer + kHeader
  long long next = 0;        // the next chunk's start
  for (;;) {
    const long got = ::read(fd, buffer + kHeader, kBlock);
    if (got <= 0) break;
    const long long blockEnd = blockStart + got;
    bool ended = false;
    while (next + kHeader <= blockEnd) {
      const unsigned char* header = buffer + kHeader + (next - blockStart);
      ++chunks;
      const auto size =
          static_cast<std::int32_t>((std::uint32_t{header[4]} << 24) | (std::uint32_t{header[5]} << 16) |
                                    (std::uint32_t{header[6]} << 8) | header[7]);
      if (size < 1) {
        ended = true;
        break;
      }
      next += size;
    }
    if (ended) break;
    if (next < blockEnd) {
      const long cut = static_cast<long>(blockEnd - next);
      std::memmove(buffer + kHeader - cut, buffer + kHeader + got - cut, static_cast<std::size_t>(cut));
    }
    blockStart = blockEnd;
  }
  std::printf("%lld\n", chunks);
  return 0;
}
