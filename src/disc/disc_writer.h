#pragma once

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

}  // namespace morvane
