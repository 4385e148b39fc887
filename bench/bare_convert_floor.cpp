// The least a convert that writes its outputs through its own memory can
// cost: the stream read once in order in 256 KiB blocks, and each output
// file created and filled with as many bytes as convert wrote into it, in
// writes of 512 KiB taken from what was read, with no decoding, no walk and
// no temporary names. Prints the bytes written.
//
//   bare-convert-floor STREAM OUTPUT SIZE [OUTPUT SIZE]...

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
constexpr long kReadBlock = 256 * 1024;
constexpr long kWriteBlock = 512 * 1024;
unsigned char buffer[kWriteBlock];

struct Output {
  int fd;
  long long size, done;
};

bool WriteUpTo(Output& output, long long target) {
  while (output.done < target) {
    const long long piece = target - output.done < kWriteBlock ? target - output.done : kWriteBlock;
    if (::write(output.fd, buffer, static_cast<std::size_t>(piece)) != piece) return false;
    output.done += piece;
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) return 2;
  const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (in < 0) return 1;
  const long long inputSize = ::lseek(in, 0, SEEK_END);
  if (inputSize <= 0 || ::lseek(in, 0, SEEK_SET) != 0) return 1;
  std::vector<Output> outputs;
  for (int i = 2; i + 1 < argc; i += 2) {
    const int fd = ::open(argv[i], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    outputs.push_back({fd, std::atoll(argv[i + 1]), 0});
  }
  // The outputs grow side by side as the stream is read, in whole writes,
  // as convert's do.
  long long read = 0, written = 0;
  for (;;) {
    const long got = ::read(in, buffer, kReadBlock);
    if (got < 0) return 1;
    if (got == 0) break;
    read += got;
    for (Output& output : outputs) {
      const long long due = output.size * read / inputSize;
      if (!WriteUpTo(output, due - due % kWriteBlock)) return 1;
    }
  }
  for (Output& output : outputs) {
    if (!WriteUpTo(output, output.size) || ::close(output.fd) != 0) return 1;
    written += output.done;
  }
  std::printf("%lld\n", written);
  return 0;
}
