#include "analysis/map_file.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "core/support.h"
#include "core/window.h"

namespace morvane {

namespace {

constexpr std::size_t kIdSize = 4;
constexpr std::size_t kValueSize = 4;

// A record's fields in memory: ids as their bytes, numbers little-endian.
void Put(unsigned char*& at, const char* id) {
  std::memcpy(at, id, kIdSize);
  at += kIdSize;
}
void Put(unsigned char*& at, const unsigned char* id) { Put(at, reinterpret_cast<const char*>(id)); }
void Put(unsigned char*& at, std::int32_t value) {
  WriteLittleEndian32(at, static_cast<std::uint32_t>(value));
  at += kValueSize;
}

// Lays the record out and hands it to the file in one write.
template <int Size, typename... Fields>
void WriteRecord(ByteFile& file, const char* kind, Fields... fields) {
  static_assert(static_cast<std::size_t>(Size) == kIdSize + sizeof...(Fields) * kValueSize);
  std::array<unsigned char, Size> bytes;
  unsigned char* at = bytes.data();
  Put(at, kind);
  (Put(at, fields), ...);
  file.Write(bytes.data(), bytes.size());
}

std::int32_t ValueAt(const unsigned char* body, std::size_t index) {
  return ReadLittleEndian32(body + index * kValueSize);
}

}  // namespace

void MapWriter::Snds(std::int32_t chunkSize) { WriteRecord<kSndsRecordSize>(file_, "SNDS", chunkSize); }

void MapWriter::Ssmp(std::int32_t dataPosition, std::int32_t dataLength) {
  WriteRecord<kSsmpRecordSize>(file_, "SSMP", dataPosition, dataLength);
}

void MapWriter::Shdr(const MapSoundHeader& h) {
  WriteRecord<kShdrRecordSize>(file_, "SHDR", h.buffers, h.amplitude, h.balance, h.sampleSize, h.sampleRate,
                               h.channels, +h.compressionType, h.compressionRatio, h.samples);
}

void MapWriter::Ssnd(std::int32_t chunkSize, std::int32_t bodyPosition) {
  WriteRecord<kSsndRecordSize>(file_, "SSND", chunkSize, bodyPosition);
}

MapReader::MapReader(ByteFile& file) : file_(file) { file_.Seek(0); }

bool MapReader::Next(MapRecord& record) {
  if (file_.Eof()) return false;
  record = MapRecord{};
  unsigned char id[kIdSize];
  file_.Read(id, kIdSize);
  if (IsId(id, "SNDS")) {
    unsigned char body[kSndsRecordSize - kIdSize];
    file_.Read(body, sizeof body);
    record.kind = MapRecord::Kind::kSnds;
    record.chunkSize = ValueAt(body, 0);
  } else if (IsId(id, "SSMP")) {
    unsigned char body[kSsmpRecordSize - kIdSize];
    file_.Read(body, sizeof body);
    record.kind = MapRecord::Kind::kSsmp;
    record.dataPosition = ValueAt(body, 0);
    record.dataLength = ValueAt(body, 1);
  } else if (IsId(id, "SHDR")) {
    record.kind = MapRecord::Kind::kShdr;
    constexpr std::int64_t kBodySize = kShdrRecordSize - kIdSize;
    const std::int64_t position = file_.Position();
    if (file_.Size() - position < kBodySize) {
      // Cut short: still a header, with no values; the walk ends at the
      // next end test.
      file_.Seek(position + kBodySize);
      return true;
    }
    unsigned char body[kBodySize];
    file_.Read(body, sizeof body);
    MapSoundHeader& header = record.header.emplace();
    header.buffers = ValueAt(body, 0);
    header.amplitude = ValueAt(body, 1);
    header.balance = ValueAt(body, 2);
    header.sampleSize = ValueAt(body, 3);
    header.sampleRate = ValueAt(body, 4);
    header.channels = ValueAt(body, 5);
    std::memcpy(header.compressionType, body + 6 * kValueSize, kIdSize);
    header.compressionRatio = ValueAt(body, 7);
    header.samples = ValueAt(body, 8);
  }
  // Anything else is a step of 4 bytes: an "SSND" record takes three steps,
  // its two values read as ids that match nothing.
  return true;
}

void CreateMapFile(SharedState& state, Window& window) {
  try {
    state.SecondFile.Open(state.SelectedPath + kMapSuffix, ByteFile::Mode::kCreate);
  } catch (const CommandError&) {
    // The pass still runs; its first map write then fails as an operation
    // on a file that is not open.
    window.NotifyUser("Output writing Error ");
  }
}

}  // namespace morvane
