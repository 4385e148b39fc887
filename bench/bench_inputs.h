#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "digest.h"

namespace morvane::bench {

// The benchmark's inputs in one folder: the stream, two files for the
// reference copies, and what every pass must write from them, found by a walk
// of the stream written here, independent of the passes.
inline constexpr char kStreamName[] = "stream.str";
inline constexpr char kSoundCopyName[] = "copy-sound.bin";  // as large as all the sound data
inline constexpr char kWavCopyName[] = "copy-wav.bin";      // as large as the WAV of sound file 0
inline constexpr char kExpectedName[] = "expected.txt";

// A stream that Analyze File is measured on, and what its walk must give.
struct WalkShape {
  std::string name;  // "dense", "sparse", "mixed", or "start-up" for the one-chunk stream
  std::string file;  // in the folder
  std::int64_t size = 0;
  std::int64_t chunks = 0;
  std::int64_t snds = 0, shdr = 0, ssmp = 0, ssnd = 0;
  FileDigest map;
};

struct Expected {
  std::int64_t streamSize = 0;
  std::int64_t chunks = 0;
  std::int64_t snds = 0, shdr = 0, ssmp = 0, ssnd = 0;
  FileDigest map;
  std::vector<FileDigest> sounds;  // sound file 0, 1, ...
  std::int64_t soundTotal = 0;
  std::int32_t wavRate = 0;  // the rate typed for sound file 0
  FileDigest wav;            // sound file 0 converted at wavRate
  // The streams of the Analyze File figures: the one-chunk stream that
  // measures the programs' start-up, then the dense, sparse and mixed ones.
  std::vector<WalkShape> shapes;
};

// Writes the stream (about 600 MB, or about 6 MB when small), the copy
// files and the Analyze File streams (about 200 MB each, or 2 MB) into the
// folder, and the expected outputs beside them.
Expected MakeInputs(const std::string& folder, bool small);

void SaveExpected(const Expected& expected, const std::string& path);
Expected LoadExpected(const std::string& path);

}  // namespace morvane::bench
