#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/byte_file.h"

namespace morvane {

// The disc's file system, numbers big-endian, in blocks of 2048 data bytes.
// Block 0 is the volume header: its record type, "ZZZZZ", its version, the
// label, and the root directory's block count and copies. A directory is a
// chain of blocks, each a small header and entries one after another; an
// entry is a file or a directory, with its name, byte and block counts and
// one or more copies of its bytes, each a first block.
namespace disc {
inline constexpr std::int64_t kBlockSize = 2048;
inline constexpr int kMostDepth = 64;  // folders nested deeper are passed over

// The volume header.
inline constexpr std::size_t kRecordTypeOffset = 0;
inline constexpr std::size_t kSyncOffset = 1;  // "ZZZZZ"
inline constexpr std::size_t kVersionOffset = 6;
inline constexpr std::size_t kLabelOffset = 40;
inline constexpr std::size_t kLabelSize = 32;
inline constexpr std::size_t kVolumeBlockSizeOffset = 76;
inline constexpr std::size_t kVolumeBlockCountOffset = 80;
inline constexpr std::size_t kRootBlockSizeOffset = 92;
inline constexpr std::size_t kRootBlockCountOffset = 88;
inline constexpr std::size_t kRootLastCopyOffset = 96;
inline constexpr std::size_t kRootCopiesOffset = 100;

// A directory block's header.
inline constexpr std::size_t kNextBlockOffset = 0;
inline constexpr std::size_t kPreviousBlockOffset = 4;
inline constexpr std::size_t kFirstFreeOffset = 12;
inline constexpr std::size_t kFirstEntryOffset = 16;
inline constexpr std::size_t kBlockHeaderSize = 20;

// An entry.
inline constexpr std::size_t kEntryFlagsOffset = 0;
inline constexpr std::size_t kEntryIdOffset = 4;
inline constexpr std::size_t kEntryTypeOffset = 8;
inline constexpr std::size_t kEntryBlockSizeOffset = 12;
inline constexpr std::size_t kEntryByteCountOffset = 16;
inline constexpr std::size_t kEntryBlockCountOffset = 20;
inline constexpr std::size_t kEntryNameOffset = 32;
inline constexpr std::size_t kEntryNameSize = 32;
inline constexpr std::size_t kEntryLastCopyOffset = 64;
inline constexpr std::size_t kEntryCopiesOffset = 68;
inline constexpr std::uint32_t kEntryKindMask = 0xFF;
inline constexpr std::uint32_t kFileEntry = 2;
inline constexpr std::uint32_t kSpecialFileEntry = 6;
inline constexpr std::uint32_t kDirectoryEntry = 7;
inline constexpr std::uint32_t kLastInBlock = 0x40000000;
inline constexpr std::uint32_t kLastInDirectory = 0x80000000;
}  // namespace disc

// A file of the disc: its path from the root ('/' between names, each name
// made safe as a file name here), its size and where its bytes begin.
struct DiscFile {
  std::string path;
  std::int64_t size = 0;
  std::int64_t firstBlock = 0;
};

// What the walk found: every folder and file in the order of the disc's
// directories, and what it passed over, each as a path on the disc (empty
// for the disc itself) and what happened.
struct DiscTree {
  std::string label;
  std::vector<std::string> folders;
  std::vector<DiscFile> files;
  std::vector<std::pair<std::string, std::string>> problems;
};

// Whether 2048 bytes are a volume header this walk reads.
bool IsVolumeHeader(const unsigned char* block);

// Walks the file system of the data opened in `data` (its blocks from 0).
// Nothing in the data can make it fail: what can't be read is a problem
// and the rest of the disc goes on.
DiscTree WalkDisc(ByteFile& data);

// A name of the disc as a file name here: '/', '\\', control bytes, bytes
// that are no part of a UTF-8 character, and on Windows : * ? " < > | and a
// trailing dot or blank, each written as %XX; "." and ".." and the empty
// name wholly so.
std::string SafeFileName(const std::string& name);

}  // namespace morvane
