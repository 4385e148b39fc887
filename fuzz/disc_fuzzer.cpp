// The disc layer over any image. Input: one byte of options (bit 0: raw
// 2352-byte sectors; the high bits: bytes cut from the image's end, times
// 97), then blocks of 256 bytes, each the start of a 2048-byte block whose
// rest is zeros. The files found, their sizes, places and bytes, the label
// and the number of problems must be what a plain model of the file system
// gives, and every path must stay below the disc's root.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/byte_file.h"
#include "disc/disc_image.h"
#include "disc/disc_walk.h"
#include "fuzz_support.h"

namespace {

using morvane::fuzz::Bytes;

constexpr std::size_t kBlock = 2048;
constexpr std::size_t kPiece = 256;
constexpr std::size_t kRaw = 2352;

std::int64_t Word(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 |
         std::uint32_t{b[at + 3]};
}

struct ModelFile {
  std::string path;
  std::int64_t size, block;
  bool operator==(const ModelFile&) const = default;
};

// The file system walked over the data bytes as plainly as it reads.
struct Model {
  const Bytes& data;
  std::vector<ModelFile> files;
  int problems = 0;
  std::set<std::int64_t> reached;

  std::int64_t Size() const { return static_cast<std::int64_t>(data.size()); }

  std::int64_t FirstWhole(const std::vector<std::int64_t>& copies, std::int64_t bytes) const {
    for (const std::int64_t block : copies) {
      if (block * 2048 + bytes <= Size()) return block;
    }
    return -1;
  }

  void Directory(const std::string& path, const std::vector<std::int64_t>& copies, std::int64_t blocks,
                 int depth) {
    const std::int64_t first = FirstWhole(copies, blocks * 2048);
    if (first < 0 || !reached.insert(first).second) return void(++problems);
    std::set<std::string> names;
    std::set<std::int64_t> seen;
    for (std::int64_t b = 0;;) {
      if (b < 0 || b >= blocks || !seen.insert(b).second) return void(++problems);
      const std::size_t base = static_cast<std::size_t>((first + b) * 2048);
      const std::int64_t end = std::min<std::int64_t>(Word(data, base + 12), 2048);
      std::int64_t at = Word(data, base + 16);
      if (at < 20) at = 2048;
      bool lastOfAll = false;
      while (at < end) {
        const std::size_t e = base + static_cast<std::size_t>(at);
        if (end - at < 68 || Word(data, e + 64) + 1 > (end - at - 68) / 4) {
          ++problems;
          break;
        }
        const std::int64_t count = Word(data, e + 64) + 1;
        std::vector<std::int64_t> entryCopies;
        for (std::int64_t c = 0; c < count; ++c) entryCopies.push_back(Word(data, e + 68 + 4 * c));
        const std::int64_t flags = Word(data, e);
        const char* raw = reinterpret_cast<const char*>(data.data() + e + 32);
        const std::string name = morvane::SafeFileName(std::string(raw, strnlen(raw, 32)));
        const std::string child = path.empty() ? name : path + "/" + name;
        if (!names.insert(name).second) {
          ++problems;
        } else if ((flags & 0xFF) == 7) {
          if (depth + 1 > 64) {
            ++problems;
          } else {
            Directory(child, entryCopies, Word(data, e + 20), depth + 1);
          }
        } else {
          const std::int64_t bytes = Word(data, e + 16);
          const std::int64_t block = bytes > Size() ? -1 : FirstWhole(entryCopies, bytes);
          if (block < 0) {
            ++problems;
          } else {
            files.push_back({child, bytes, block});
          }
        }
        at += 68 + 4 * count;
        if (flags & 0x80000000) {
          lastOfAll = true;
          break;
        }
        if (flags & 0x40000000) break;
      }
      const auto next = static_cast<std::int32_t>(Word(data, base));
      if (lastOfAll || next == -1) return;
      b = next;
    }
  }

  void Walk() {
    if (data.size() < kBlock || data[0] != 1 || std::memcmp(data.data() + 1, "ZZZZZ", 5) != 0 || data[6] != 1)
      return void(++problems);
    const std::int64_t last = Word(data, 96);
    if (last >= (2048 - 100) / 4) return void(++problems);
    std::vector<std::int64_t> copies;
    for (std::int64_t c = 0; c <= last; ++c) copies.push_back(Word(data, 100 + 4 * c));
    Directory("", copies, Word(data, 88), 0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 1) return 0;
  const bool raw = (input[0] & 1) != 0;
  const std::size_t cut = (input[0] >> 1) * std::size_t{97};
  Bytes blocks;
  for (std::size_t at = 1; at < size; at += kPiece) {
    const std::size_t take = std::min(kPiece, size - at);
    blocks.insert(blocks.end(), input + at, input + at + take);
    blocks.insert(blocks.end(), kBlock - take, 0);
  }
  Bytes image;
  if (raw) {
    static const unsigned char kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    for (std::size_t at = 0; at < blocks.size(); at += kBlock) {
      image.insert(image.end(), kSync, kSync + 12);
      image.insert(image.end(), {0, 2, 0, 1});
      image.insert(image.end(), blocks.begin() + static_cast<std::ptrdiff_t>(at),
                   blocks.begin() + static_cast<std::ptrdiff_t>(at + kBlock));
      image.insert(image.end(), 288, 0x5A);
    }
  } else {
    image = blocks;
  }
  image.resize(image.size() - std::min(cut, image.size()));
  // The data bytes the image still holds.
  Bytes data;
  if (raw) {
    for (std::size_t at = 0; at + 16 < image.size(); at += kRaw) {
      const std::size_t end = std::min(at + 16 + kBlock, image.size());
      data.insert(data.end(), image.begin() + static_cast<std::ptrdiff_t>(at + 16),
                  image.begin() + static_cast<std::ptrdiff_t>(end));
    }
  } else {
    data = image;
  }
  // An image too short for its first sector's sync is read as blocks.
  if (raw && image.size() < 12) data = image;

  const std::string path = morvane::fuzz::InFolder("disc.img");
  morvane::fuzz::WriteWhole(path, image.data(), image.size());
  const morvane::Disc disc = morvane::ReadDisc(path);
  Model model{data, {}, 0, {}};
  model.Walk();

  std::vector<ModelFile> found;
  for (const morvane::DiscFile& file : disc.Files()) {
    found.push_back({file.path, file.size, file.firstBlock});
    if (file.path.empty() || file.path.front() == '/' || file.path.find("//") != std::string::npos)
      morvane::fuzz::Fail(__FILE__, __LINE__, "a path outside the root: " + file.path);
    for (std::size_t start = 0; start <= file.path.size();) {
      std::size_t end = file.path.find('/', start);
      if (end == std::string::npos) end = file.path.size();
      const std::string part = file.path.substr(start, end - start);
      if (part == "." || part == ".." || part.find('\\') != std::string::npos)
        morvane::fuzz::Fail(__FILE__, __LINE__, "an unsafe name: " + file.path);
      start = end + 1;
    }
    morvane::ByteFile bytes;
    bytes.Open(disc.SourceOf(file));
    Bytes got(static_cast<std::size_t>(file.size));
    if (!got.empty()) bytes.Read(got.data(), got.size());
    if (!got.empty() && std::memcmp(got.data(), data.data() + file.firstBlock * kBlock, got.size()) != 0)
      morvane::fuzz::Fail(__FILE__, __LINE__, "the bytes of " + file.path + " differ from the image's");
  }
  if (found != model.files)
    morvane::fuzz::Fail(
        __FILE__, __LINE__,
        "files: " + std::to_string(found.size()) + " found, the model " + std::to_string(model.files.size()));
  if (static_cast<int>(disc.Problems().size()) != model.problems)
    morvane::fuzz::Fail(__FILE__, __LINE__,
                        "problems: " + std::to_string(disc.Problems().size()) + " told, the model " +
                            std::to_string(model.problems));
  return 0;
}
