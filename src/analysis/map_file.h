#pragma once

#include <cstdint>
#include <optional>

#include "core/byte_file.h"
#include "core/shared_state.h"

namespace morvane {

class Window;

// The map: SelectedPath + ".MAP", a headerless sequence of records, each a
// 4-byte kind and a body whose length depends on the kind alone. Numbers are
// little-endian; four-character fields are their bytes.
//   "SNDS" chunk size                                               8 bytes
//   "SSMP" data position, data length                              12 bytes
//   "SHDR" buffers, amplitude, balance, sample size, sample rate,
//          channels, compression type, compression ratio, samples  40 bytes
//   "SSND" chunk size, body position                               12 bytes
inline constexpr char kMapSuffix[] = ".MAP";
inline constexpr int kSndsRecordSize = 8;
inline constexpr int kSsmpRecordSize = 12;
inline constexpr int kShdrRecordSize = 40;
inline constexpr int kSsndRecordSize = 12;

// The nine values of the stream's sound header that a "SHDR" record keeps,
// in the header's order.
struct MapSoundHeader {
  std::int32_t buffers = 0, amplitude = 0, balance = 0, sampleSize = 0, sampleRate = 0, channels = 0;
  unsigned char compressionType[4] = {};
  std::int32_t compressionRatio = 0, samples = 0;
};

// Writes records to a map created for writing; each record goes to the file
// as one write.
class MapWriter {
 public:
  explicit MapWriter(ByteFile& file) : file_(file) {}
  void Snds(std::int32_t chunkSize);
  void Ssmp(std::int32_t dataPosition, std::int32_t dataLength);
  void Shdr(const MapSoundHeader& header);
  void Ssnd(std::int32_t chunkSize, std::int32_t bodyPosition);

 private:
  ByteFile& file_;
};

// One step of the map walk.
struct MapRecord {
  enum class Kind { kSnds, kSsmp, kShdr, kOther };
  Kind kind = Kind::kOther;
  std::int32_t chunkSize = 0;            // kSnds
  std::int32_t dataPosition = 0;         // kSsmp
  std::int32_t dataLength = 0;           // kSsmp
  std::optional<MapSoundHeader> header;  // kShdr; absent when the map ends inside it
};

// Reads a map from its start, one record a step, as the extraction walks it:
// a word that is no known kind ("SSND" and its two values among them) is a
// step of 4 bytes; a "SHDR" cut short by the end of the map still is a
// header, and the walk then ends. Raises the file layer's errors, "Read
// beyond end of file" where a kind or an "SNDS" or "SSMP" body is cut short.
class MapReader {
 public:
  explicit MapReader(ByteFile& file);
  // The next record; false at the end of the map.
  bool Next(MapRecord& record);

 private:
  ByteFile& file_;
};

// Creates (empties) the map as SecondFile for writing; "Output writing Error "
// when it cannot.
void CreateMapFile(SharedState& state, Window& window);

}  // namespace morvane
