#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/byte_file.h"
#include "disc/disc_walk.h"

namespace morvane {

// The raw sector of a CD: 12 bytes of sync, 4 of header (the mode in its
// last), the 2048 data bytes of a mode-1 sector, 288 of error correction.
namespace disc {
inline constexpr std::int32_t kRawSectorSize = 2352;
inline constexpr std::int32_t kRawDataOffset = 16;
inline constexpr std::size_t kSyncSize = 12;
inline constexpr std::size_t kModeOffset = 15;
// CD audio: 16-bit stereo at 44100 Hz, 2352 bytes a frame.
inline constexpr std::int32_t kCdAudioRate = 44100;
}  // namespace disc

// A CD audio track of an image: its bytes in its file as its sheet gives
// them (a file cut short holds fewer), samples 16-bit stereo, little-endian
// or big-endian as its file's type says.
struct AudioTrack {
  int number = 0;
  FileRange range;
  bool bigEndian = false;
};

// A disc image read: the tracks, the file system of its data track and
// what could not be read, each problem as a name (the image, or the image
// and a path on it) and what happened.
class Disc {
 public:
  const std::string& ImagePath() const { return imagePath_; }
  const std::string& Label() const { return tree_.label; }
  const std::vector<std::string>& Folders() const { return tree_.folders; }
  // The files in the order of the disc's directories.
  const std::vector<DiscFile>& Files() const { return tree_.files; }
  // The files in the order their bytes lie on the disc: one pass over the
  // image reads them all.
  std::vector<DiscFile> FilesInDiscOrder() const;
  const std::vector<AudioTrack>& Tracks() const { return tracks_; }
  const std::vector<std::pair<std::string, std::string>>& Problems() const { return problems_; }
  bool HasData() const { return hasData_; }
  // The bytes of the data track (its blocks from 0), for the walk.
  const FileRange& Data() const { return data_; }
  // A file of the disc as the passes read it, named by the image's path
  // and its path on the disc.
  InputSource SourceOf(const DiscFile& file) const;
  // The name a path on the disc is told under.
  std::string NameOf(const std::string& discPath) const;

  friend Disc ReadDisc(const std::string& imagePath);

 private:
  std::string imagePath_;
  bool hasData_ = false;
  FileRange data_;
  DiscTree tree_;
  std::vector<AudioTrack> tracks_;
  std::vector<std::pair<std::string, std::string>> problems_;
};

// Reads an image: a cue sheet (by its name) and the files it names, a file
// of raw 2352-byte sectors (it begins with the sync bytes) or of 2048-byte
// blocks. Never fails: an image that can't be read at all has its problem.
Disc ReadDisc(const std::string& imagePath);

// Whether a file is a disc image: a cue sheet by its name, or a file with a
// volume header in its first block, plain or in a raw sector.
bool IsDiscImage(const std::string& path);

// The same from the image's name and first bytes (`count` of them: 2064
// tell all), for a front end that has them already.
inline constexpr std::size_t kDiscImageHeadSize = disc::kRawDataOffset + disc::kBlockSize;
bool IsDiscImageStart(const std::string& path, const unsigned char* head, std::size_t count);

// The files a cue sheet names (empty for any other file): they are read
// through the sheet, not on their own.
std::vector<std::string> FilesOfCueSheet(const std::string& path);

// The bytes a conversion of the image reads: of a cue sheet, those of the
// files it names; else the file's own size (0 when it can't be told).
std::int64_t DiscImageBytes(const std::string& path);

// The folder a disc's outputs go in: the image's name less its extension
// ("game.iso", "game.cue": "game"), or NAME.files for a name without one.
std::string DiscFolderName(const std::string& imagePath);

}  // namespace morvane
