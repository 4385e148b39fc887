#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/stream_builder.h"

namespace morvane::test {

// A Matroska file read back by a plain walk of its elements, for the tests
// and the fuzz target: what a player would find in it.
struct MkvTrack {
  std::uint64_t number = 0, type = 0, uid = 0;
  std::string codec;
  Bytes codecPrivate;
  std::uint64_t defaultDuration = 0;              // ns; 0 when absent
  std::uint64_t codecDelay = 0, seekPreRoll = 0;  // ns
  std::uint64_t width = 0, height = 0;
  double rate = 0;
  std::uint64_t channels = 0, bitDepth = 0;
};

struct MkvBlock {
  std::uint64_t track = 0;
  std::int64_t ms = 0;  // the cluster's time plus the block's
  bool key = false;
  Bytes data;
};

struct MkvFile {
  std::string docType;
  std::uint64_t docTypeVersion = 0, timestampScale = 0;
  std::string muxingApp, writingApp;
  Bytes segmentUid;
  double duration = -1;
  std::vector<MkvTrack> tracks;  // in file order
  std::vector<MkvBlock> blocks;  // in file order
  std::size_t cuePoints = 0;
  // The first thing found wrong (sizes that overrun their parent, a seek
  // entry or a cue that points at no such element, a block of no track, a
  // cue at a block that is no key block); empty when none.
  std::string problem;

  const MkvTrack* Track(std::uint64_t number) const;
  // The blocks of a track, in file order.
  std::vector<const MkvBlock*> BlocksOf(std::uint64_t track) const;
  // The track's bytes, one block after another.
  Bytes Concatenated(std::uint64_t track) const;
};

MkvFile ReadMatroska(const Bytes& file);

}  // namespace morvane::test
