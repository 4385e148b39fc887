#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "commands/convert_flow.h"
#include "disc/disc_file_kind.h"
#include "disc/disc_image.h"

namespace morvane {

// What `list` shows of a disc: its label, every folder and file in the
// order of its directories with what each file holds, its audio tracks,
// and what could not be read.
struct DiscListing {
  std::string label;
  struct Entry {
    std::string path;  // on the disc; a folder's ends with '/'
    bool folder = false;
    std::int64_t size = 0;
    DiscFileFacts facts;
  };
  std::vector<Entry> entries;
  std::vector<AudioTrack> tracks;
  std::vector<std::pair<std::string, std::string>> problems;
};
DiscListing ListDisc(const std::string& imagePath);

// The text of what a file holds: "stream: 2 sounds, 1 film", "AIFF" or
// "other".
std::string DiscFileKindText(const DiscFileFacts& facts);
// The same of a part met while converting: "stream", "AIFF", "other" or,
// of a track, "CD audio".
std::string DiscPartKindText(const DiscPart& part);
// "TrackNN.wav": the name of an audio track's WAV.
std::string AudioTrackFileName(int number);

// Writes every folder and file of the disc under outputDir at its path, the
// files byte for byte, in the order their bytes lie on the disc. Every
// problem goes to the sink and the rest of the disc goes on; a stop asked
// for ends it after the file in hand. Gives true when the whole disc was
// written.
bool RunUnpack(const std::string& imagePath, const std::string& outputDir, BatchSink& sink);

// Converts every stream and sound file of the disc as convert converts a
// file, its outputs at its path under outputRoot, and each CD audio track
// into outputRoot/TrackNN.wav (44.1 kHz 16-bit stereo, its samples as they
// are). Progress runs over the disc's bytes; the sink hears of each part of
// the disc in turn, and a stop asked for ends the conversion after the part
// in hand.
struct DiscConversion {
  bool whole = false;    // all of it converted whole
  bool stopped = false;  // ended by a stop before its last part
};
DiscConversion ConvertDisc(const std::string& imagePath, const std::string& outputRoot,
                           const ConvertSettings& settings, BatchSink& sink);

}  // namespace morvane
