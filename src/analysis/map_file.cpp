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

// One record laid out in memory before it goes to the file.
template <std::size_t Size>
class RecordBytes {
 public:
  explicit RecordBytes(const char* kind) { Put(kind); }
  void Put(const char* fourBytes) {
    std::memcpy(bytes_.data() + at_, fourBytes, kIdSize);
    at_ += kIdSize;
  }
  void Put(const unsigned char* fourBytes) { Put(reinterpret_cast<const char*>(fourBytes)); }
  void Put(std::int32_t value) {
    WriteLittleEndian32(bytes_.data() + at_, static_cast<std::uint32_t>(value));
    at_ += kValueSize;
  }
  void WriteTo(ByteFile& file) const {
    static_assert(Size % kValueSize == 0);
    file.Write(bytes_.data(), Size);
  }

 private:
  std::array<unsigned char, Size> bytes_{};
  std::size_t at_ = 0;
};

std::int32_t ValueAt(const unsigned char* body, std::size_t index) {
  return ReadLittleEndian32(body + index * kValueSize);
}

}  // namespace

void MapWriter::Snds(std::int32_t chunkSize) {
  RecordBytes<kSndsRecordSize> record("SNDS");
  record.Put(chunkSize);
  record.WriteTo(file_);
}

void MapWriter::Ssmp(std::int32_t dataPosition, std::int32_t dataLength) {
  RecordBytes<kSsmpRecordSize> record("SSMP");
  record.Put(dataPosition);
  record.Put(dataLength);
  record.WriteTo(file_);
}

void MapWriter::Shdr(const MapSoundHeader& header) {
  RecordBytes<kShdrRecordSize> record("SHDR");
  for (std::int32_t value : {header.buffers, header.amplitude, header.balance, header.sampleSize,
                             header.sampleRate, header.compressionRatio}) {
    record.Put(value);
  }
  record.Put(header.compressionType);
  record.Put(header.channels);
  record.Put(header.samples);
  record.WriteTo(file_);
}

void MapWriter::Ssnd(std::int32_t chunkSize, std::int32_t bodyPosition) {
  RecordBytes<kSsndRecordSize> record("SSND");
  record.Put(chunkSize);
  record.Put(bodyPosition);
  record.WriteTo(file_);
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
    header.compressionRatio = ValueAt(body, 5);
    std::memcpy(header.compressionType, body + 6 * kValueSize, kIdSize);
    header.channels = ValueAt(body, 7);
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
