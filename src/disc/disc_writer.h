#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// A file to put on a disc image: its path from the root ('/' between
// names, each at most 32 bytes) and its bytes.
struct DiscWriterFile {
  std::string path;
  std::vector<unsigned char> bytes;
};

// An image of 2048-byte blocks holding the files in the disc's file system
// (disc_walk.h) under the label: the volume header, then each directory
// (its entries in the order given, over as many chained blocks as they
// take), then each file's bytes from a block of its own, one copy each.
std::vector<unsigned char> DiscImageBytes(const std::string& label, const std::vector<DiscWriterFile>& files);

// The same image's first blocks (the volume header and the directories) for
// files of these paths and sizes, and the block each file's bytes begin at:
// for an image too large to hold in memory, whose files follow the head.
struct DiscHead {
  std::vector<unsigned char> bytes;
  std::vector<std::int64_t> firstBlocks;
};
struct DiscHeadFile {
  std::string path;
  std::int64_t size = 0;
};
DiscHead DiscImageHead(const std::string& label, const std::vector<DiscHeadFile>& files);

}  // namespace morvane
