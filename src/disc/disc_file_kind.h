#pragma once

#include "core/byte_file.h"

namespace morvane {

// What a file of a disc holds, told by its bytes alone (names on these
// discs are free: "Intro", "CUT03.STR", "logo.stream").
enum class DiscFileKind {
  kStream,  // its first chunk is one the walk knows, and the sizes chain
  kAiff,    // "FORM" of type AIFF or AIFC
  kOther,
};

struct DiscFileFacts {
  DiscFileKind kind = DiscFileKind::kOther;
  // Of a stream, when counted: its sound headers and film headers.
  int sounds = 0;
  int films = 0;
};

// Looks at an open file's first chunks; with `count`, walks every chunk
// header of a stream for its sound and film headers.
DiscFileFacts KindOfDiscFile(ByteFile& file, bool count);

}  // namespace morvane
