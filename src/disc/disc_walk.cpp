#include "disc/disc_walk.h"

#include <cstring>
#include <set>

#include "core/errors.h"
#include "core/platform.h"
#include "core/support.h"

namespace morvane {

namespace {

using namespace disc;

std::uint32_t Word(const unsigned char* bytes) { return static_cast<std::uint32_t>(ReadBigEndian32(bytes)); }

// NUL-padded text.
std::string PaddedText(const unsigned char* bytes, std::size_t size) {
  const void* nul = std::memchr(bytes, 0, size);
  return std::string(reinterpret_cast<const char*>(bytes),
                     nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - bytes) : size);
}

// The bytes of a whole UTF-8 character starting at `at`, 0 when none does.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t trail = lead >= 0xF0 && lead <= 0xF4  ? 3
                            : lead >= 0xE0 && lead < 0xF0 ? 2
                            : lead >= 0xC2 && lead < 0xE0 ? 1
                                                          : 0;
  if (trail == 0) return 0;
  for (std::size_t i = 1; i <= trail; ++i) {
    if (at + i >= text.size() || (static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return trail + 1;
}

bool Unsafe(unsigned char c, bool last) {
  if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return true;
#ifdef _WIN32
  if (std::strchr(":*?\"<>|", c) != nullptr) return true;
  if (last && (c == '.' || c == ' ')) return true;
#else
  (void)last;
#endif
  return false;
}

// Where the bytes of an entry lie: the first copy whole inside the data.
struct Copies {
  std::vector<std::int64_t> blocks;
  // The first block of the first copy whose `bytes` lie whole in `size`
  // bytes of data; -1 when none does.
  std::int64_t FirstWhole(std::int64_t bytes, std::int64_t size) const {
    for (const std::int64_t block : blocks) {
      if (bytes <= size && block * kBlockSize <= size - bytes) return block;
    }
    return -1;
  }
};

class Walker {
 public:
  explicit Walker(ByteFile& data) : data_(data), size_(data.Size()) {}

  DiscTree Walk() {
    try {
      unsigned char header[kBlockSize];
      if (size_ < kBlockSize) {
        Problem("", "the image ends before its volume header");
        return std::move(tree_);
      }
      Block(0, header);
      if (!IsVolumeHeader(header)) {
        Problem("", "no volume header this tool reads at its first block");
        return std::move(tree_);
      }
      tree_.label = PaddedText(header + kLabelOffset, kLabelSize);
      Copies root;
      const std::uint32_t lastCopy = Word(header + kRootLastCopyOffset);
      if (lastCopy >= (kBlockSize - kRootCopiesOffset) / 4) {
        Problem("", "the volume header gives more copies of the root directory than it holds");
        return std::move(tree_);
      }
      for (std::uint32_t copy = 0; copy <= lastCopy; ++copy)
        root.blocks.push_back(Word(header + kRootCopiesOffset + 4 * copy));
      Directory("", root, Word(header + kRootBlockCountOffset), 0);
    } catch (const CommandError& error) {
      // The image itself failed to read.
      Problem("", ErrorCause(error));
    }
    return std::move(tree_);
  }

 private:
  void Problem(const std::string& path, const std::string& text) { tree_.problems.emplace_back(path, text); }

  void Block(std::int64_t block, unsigned char* bytes) {
    data_.Seek(block * kBlockSize);
    data_.Read(bytes, kBlockSize);
  }

  void Directory(const std::string& path, const Copies& copies, std::int64_t blockCount, int depth) {
    const std::int64_t first = copies.FirstWhole(blockCount * kBlockSize, size_);
    const std::string shown = path.empty() ? "the root directory" : "the directory";
    if (first < 0) {
      Problem(path, "none of the " + std::to_string(copies.blocks.size()) + " copies of " + shown +
                        " lies whole inside the image; passed over");
      return;
    }
    if (!reached_.insert(first).second) {
      Problem(path,
              "a folder reached twice (its blocks begin at " + std::to_string(first) + "); passed over");
      return;
    }
    if (!path.empty()) tree_.folders.push_back(path);
    std::set<std::string> names;
    std::set<std::int64_t> visited;
    for (std::int64_t block = 0;;) {
      if (block < 0 || block >= blockCount) {
        Problem(path, "the directory's chain points at its block " + std::to_string(block) +
                          ", outside its " + std::to_string(blockCount) + " blocks; the rest is passed over");
        return;
      }
      if (!visited.insert(block).second) {
        Problem(path, "the directory's chain loops back to its block " + std::to_string(block) +
                          "; the rest is passed over");
        return;
      }
      unsigned char bytes[kBlockSize];
      Block(first + block, bytes);
      bool lastOfDirectory = false;
      Entries(path, block, bytes, names, depth, lastOfDirectory);
      const auto next = static_cast<std::int32_t>(Word(bytes + kNextBlockOffset));
      if (lastOfDirectory || next == -1) return;
      block = next;
    }
  }

  void Entries(const std::string& path, std::int64_t block, const unsigned char* bytes,
               std::set<std::string>& names, int depth, bool& lastOfDirectory) {
    const std::int64_t end = std::min<std::int64_t>(Word(bytes + kFirstFreeOffset), kBlockSize);
    std::int64_t at = Word(bytes + kFirstEntryOffset);
    if (at < static_cast<std::int64_t>(kBlockHeaderSize)) at = kBlockSize;  // no entry where one can be
    while (at < end) {
      const unsigned char* entry = bytes + at;
      const auto pastBlock = [&] {
        Problem(path, "an entry at byte " + std::to_string(at) + " of the directory's block " +
                          std::to_string(block) +
                          " runs past its block; the rest of the block is passed over");
      };
      if (end - at < static_cast<std::int64_t>(kEntryCopiesOffset)) return pastBlock();
      const std::uint32_t lastCopy = Word(entry + kEntryLastCopyOffset);
      if (lastCopy >= static_cast<std::uint32_t>((end - at - kEntryCopiesOffset) / 4)) return pastBlock();
      Copies copies;
      for (std::uint32_t copy = 0; copy <= lastCopy; ++copy)
        copies.blocks.push_back(Word(entry + kEntryCopiesOffset + 4 * copy));
      const std::uint32_t flags = Word(entry + kEntryFlagsOffset);
      Entry(path, entry, flags, copies, names, depth);
      at += kEntryCopiesOffset + 4 * (static_cast<std::int64_t>(lastCopy) + 1);
      if ((flags & kLastInDirectory) != 0) {
        lastOfDirectory = true;
        return;
      }
      if ((flags & kLastInBlock) != 0) return;
    }
  }

  void Entry(const std::string& folder, const unsigned char* entry, std::uint32_t flags, const Copies& copies,
             std::set<std::string>& names, int depth) {
    const std::string name = SafeFileName(PaddedText(entry + kEntryNameOffset, kEntryNameSize));
    const std::string path = folder.empty() ? name : folder + "/" + name;
    if (!names.insert(platform::NameKey(name)).second) {
      Problem(path, "a second entry of this name in its folder; passed over");
      return;
    }
    if ((flags & kEntryKindMask) == kDirectoryEntry) {
      if (depth + 1 > kMostDepth) {
        Problem(path, "a folder nested deeper than " + std::to_string(kMostDepth) + "; passed over");
        return;
      }
      Directory(path, copies, Word(entry + kEntryBlockCountOffset), depth + 1);
      return;
    }
    const std::int64_t bytes = Word(entry + kEntryByteCountOffset);
    if (bytes > size_) {
      Problem(path, "its byte count " + std::to_string(bytes) + " runs past the image's end (" +
                        std::to_string(size_) + " bytes); passed over");
      return;
    }
    const std::int64_t first = copies.FirstWhole(bytes, size_);
    if (first < 0) {
      Problem(path, copies.blocks.size() == 1 ? "its bytes do not lie whole inside the image; passed over"
                                              : "none of its " + std::to_string(copies.blocks.size()) +
                                                    " copies lies whole inside the image; passed over");
      return;
    }
    tree_.files.push_back({path, bytes, first});
  }

  ByteFile& data_;
  const std::int64_t size_;
  DiscTree tree_;
  std::set<std::int64_t> reached_;  // the first blocks of the folders walked
};

}  // namespace

bool IsVolumeHeader(const unsigned char* block) {
  return block[kRecordTypeOffset] == 1 && std::memcmp(block + kSyncOffset, "ZZZZZ", 5) == 0 &&
         block[kVersionOffset] == 1;
}

DiscTree WalkDisc(ByteFile& data) { return Walker(data).Walk(); }

std::string SafeFileName(const std::string& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto escape = [](std::string& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  };
  std::string safe;
  if (name.empty() || name == "." || name == "..") {
    for (const char c : name) escape(safe, static_cast<unsigned char>(c));
    return name.empty() ? "%00" : safe;
  }
  for (std::size_t at = 0; at < name.size();) {
    const auto c = static_cast<unsigned char>(name[at]);
    if (c >= 0x80) {
      const std::size_t length = Utf8Length(name, at);
      if (length == 0) {
        escape(safe, c);
        ++at;
      } else {
        safe.append(name, at, length);
        at += length;
      }
      continue;
    }
    if (Unsafe(c, at + 1 == name.size())) {
      escape(safe, c);
    } else {
      safe += static_cast<char>(c);
    }
    ++at;
  }
  return safe;
}

}  // namespace morvane
