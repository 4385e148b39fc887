#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace morvane::test {

// Disc images from bytes: blocks of 2048 bytes, numbers big-endian, the
// volume header in block 0, directories as chains of blocks of entries.
class DiscBuilder {
 public:
  static constexpr std::size_t kBlock = 2048;
  explicit DiscBuilder(std::size_t blocks) : image_(blocks * kBlock, 0) {}

  struct Entry {
    std::uint32_t flags = 2;  // 2 a file, 7 a directory; | 0x40000000, 0x80000000 the last
    std::string type = "file";
    std::uint32_t byteCount = 0, blockCount = 0;
    std::string name;  // the raw bytes, at most 32
    std::vector<std::uint32_t> copies;
    std::int32_t lastCopy = -1;  // the index written; -1: copies - 1
  };
  static Entry File(const std::string& name, std::uint32_t bytes, std::vector<std::uint32_t> copies);
  static Entry Folder(const std::string& name, std::uint32_t blocks, std::vector<std::uint32_t> copies);

  DiscBuilder& Volume(const std::string& label, std::uint32_t rootBlocks,
                      const std::vector<std::uint32_t>& rootCopies);
  // A directory block: next and previous blocks (-1: none), the entries;
  // the first free byte after them unless given.
  DiscBuilder& Directory(std::size_t block, std::int32_t next, std::int32_t previous,
                         const std::vector<Entry>& entries, std::int64_t firstFree = -1);
  DiscBuilder& Put(std::size_t block, const Bytes& bytes);
  const Bytes& Image() const { return image_; }

 private:
  Bytes image_;
};

// A whole tree laid out: its folders (one block each, or `entriesPerBlock`
// entries a block over a chain), then each file's bytes from a block of its
// own; with `twoCopies` every file has a second copy, after the first.
struct TreeFile {
  std::string path;  // '/' between names, which are raw bytes
  Bytes bytes;
};
struct TreeOptions {
  std::string label = "TEST DISC";
  std::size_t entriesPerBlock = 20;
  bool twoCopies = false;
  // Each file's first copy points past the image's end (the second is the
  // real one): with twoCopies.
  bool firstCopyOutside = false;
};
Bytes TreeImage(const std::vector<TreeFile>& files, const TreeOptions& options = {});

// An image of 2048-byte blocks as raw 2352-byte mode-1 sectors: sync, a
// header with the sector's address, the data and zeros for the error
// correction.
Bytes RawSectors(const Bytes& blocks);

// A cue sheet of one file, game.bin, of type BINARY or MOTOROLA: a
// MODE1/2352 data track of `dataSectors` sectors, two sectors of pregap,
// then an audio track to the file's end.
std::string CueSheetText(std::size_t dataSectors, const std::string& type);

// A disc as a .cue with its .bin: the image's blocks as raw sectors, two
// sectors of pregap, then `audio` as the audio track.
struct CueDisc {
  Bytes bin;
  std::string cue;
};
CueDisc CueAndBin(const Bytes& blocks, const Bytes& audio, const std::string& type = "BINARY");

// An image labelled "BAD" whose folder /D is a directory chain that loops
// back to its first block, beside GOOD.STR, which holds `good`.
Bytes LoopingFolderImage(const Bytes& good);

}  // namespace morvane::test
