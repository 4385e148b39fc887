#include "disc/disc_file_kind.h"

#include <algorithm>

#include "analysis/chunk_layout.h"
#include "core/support.h"

namespace morvane {

namespace {

// The chunks a stream may begin with: those the walk reads and those it
// knows to pass over.
constexpr const char* kKnownChunks[] = {"SNDS", "SSND", "FILM", "JOIN", "CTRL", "FILL", "EZFL"};
// Chunk headers that must chain before a file is taken as a stream.
constexpr int kChainedHeaders = 4;

bool Printable(const unsigned char* id) {
  return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

DiscFileFacts KindOfDiscFile(ByteFile& file, bool count) {
  DiscFileFacts facts;
  const std::int64_t size = file.Size();
  unsigned char head[kFhdrVersionOffset];
  if (size < kChunkHeaderSize) return facts;
  file.Seek(0);
  file.Read(head, kChunkHeaderSize);
  if (IsId(head, "FORM")) {
    if (size >= 12) {
      file.Read(head + kChunkHeaderSize, 4);
      if (IsId(head + 8, "AIFF") || IsId(head + 8, "AIFC")) facts.kind = DiscFileKind::kAiff;
    }
    return facts;
  }
  if (std::none_of(std::begin(kKnownChunks), std::end(kKnownChunks),
                   [&](const char* id) { return IsId(head, id); }))
    return facts;
  int headers = 0;
  for (std::int64_t at = 0; at + kChunkHeaderSize <= size; ++headers) {
    if (headers >= kChainedHeaders && !count) break;
    file.Seek(at);
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(size - at, kFhdrVersionOffset));
    file.Read(head, wanted);
    const std::int32_t chunkSize = ReadBigEndian32(head + kChunkSizeOffset);
    if (chunkSize < kChunkHeaderSize || !Printable(head)) {
      // A stream damaged further on is still a stream.
      if (headers < kChainedHeaders) return facts;
      break;
    }
    if (wanted >= kSndsFieldsEnd && IsId(head, "SNDS") && IsId(head + kSndsSubIdOffset, "SHDR"))
      ++facts.sounds;
    if (wanted >= kFilmSubTypeOffset + 4 && IsId(head, "FILM") && IsId(head + kFilmSubTypeOffset, "FHDR"))
      ++facts.films;
    at += chunkSize;
  }
  facts.kind = DiscFileKind::kStream;
  return facts;
}

}  // namespace morvane
