#include "analysis/chunk_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "analysis/chunk_layout.h"
#include "analysis/iff_form.h"
#include "analysis/map_file.h"
#include "core/support.h"
#include "core/window.h"

namespace morvane {

namespace {

// The four bytes as text, cut at the first zero byte.
std::string FourCharacters(const unsigned char* bytes) {
  std::size_t length = 0;
  while (length < 4 && bytes[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::int32_t ReadNumber(ByteFile& file) {
  unsigned char bytes[4];
  file.Read(bytes, 4);
  return ReadBigEndian32(bytes);
}

// The counters are 16-bit and wrap after 65535.
struct Counters {
  std::uint16_t snds = 0, shdr = 0, ssmp = 0, ssnd = 0;
};

// The first film header's compression type and picture size in Label26. A
// film chunk is looked into only while its header's fields lie inside the
// file, so that it never ends the walk.
void ShowFilm(ByteFile& input, std::int64_t chunkStart, Window& window, bool& filmShown) {
  if (filmShown || input.Size() - chunkStart < kFhdrEnd) return;
  unsigned char fields[kFhdrEnd - kChunkHeaderSize];
  input.Read(fields, sizeof fields);
  const auto at = [&fields](std::int64_t offset) { return fields + (offset - kChunkHeaderSize); };
  if (!IsId(at(kFilmSubTypeOffset), "FHDR")) return;
  window.SetLabel(ValueLabel::Label26, FourCharacters(at(kFhdrCompressionOffset)) + " " +
                                           DecimalText(ReadBigEndian32(at(kFhdrWidthOffset))) + "x" +
                                           DecimalText(ReadBigEndian32(at(kFhdrHeightOffset))));
  filmShown = true;
}

void ReadSoundHeader(ByteFile& input, MapWriter& map, Window& window) {
  // Eleven fields in file order: version, buffers, amplitude, balance, data
  // format, sample size, rate, channels, compression type, compression
  // ratio, samples.
  const std::int32_t version = ReadNumber(input);
  const std::int32_t buffers = ReadNumber(input);
  const std::int32_t amplitude = ReadNumber(input);
  const std::int32_t balance = ReadNumber(input);
  unsigned char dataFormat[4];
  input.Read(dataFormat, 4);
  const std::int32_t sampleSize = ReadNumber(input);
  const std::int32_t sampleRate = ReadNumber(input);
  const std::int32_t channels = ReadNumber(input);
  unsigned char compressionType[4];
  input.Read(compressionType, 4);
  const std::int32_t compressionRatio = ReadNumber(input);
  const std::int32_t samples = ReadNumber(input);

  window.SetLabel(ValueLabel::Label16, DecimalText(version));
  window.SetLabel(ValueLabel::Label17, DecimalText(buffers));
  window.SetLabel(ValueLabel::Label18, DecimalText(amplitude));
  window.SetLabel(ValueLabel::Label19, DecimalText(balance));
  window.SetLabel(ValueLabel::Label20, FourCharacters(dataFormat));
  window.SetLabel(ValueLabel::Label21, DecimalText(sampleSize) + " (Bit)");
  window.SetLabel(ValueLabel::Label15, DecimalText(sampleRate) + " (Hz)");
  window.SetLabel(ValueLabel::Label24, DecimalText(compressionRatio));
  window.SetLabel(ValueLabel::Label14, FourCharacters(compressionType));
  window.SetLabel(ValueLabel::Label23, DecimalText(channels));
  window.SetLabel(ValueLabel::Label22, DecimalText(samples));

  // The record keeps nine of the fields, in file order; version and data
  // format stay out.
  MapSoundHeader record{buffers,  amplitude, balance,          sampleSize, sampleRate,
                        channels, {},        compressionRatio, samples};
  std::memcpy(record.compressionType, compressionType, 4);
  map.Shdr(record);
}

void HandleChunk(const unsigned char* id, std::int64_t chunkStart, std::int32_t chunkSize, ByteFile& input,
                 MapWriter& map, Window& window, Counters& counters, bool& filmShown) {
  if (IsId(id, "SNDS")) {
    ++counters.snds;
    map.Snds(chunkSize);
    // The sub-chunk's fields are read whatever the chunk size says. Time and
    // stream number are both read before either label changes.
    const std::int32_t time = ReadNumber(input);
    const std::int32_t stream = ReadNumber(input);
    window.SetLabel(ValueLabel::Label28, DecimalText(time));
    window.SetLabel(ValueLabel::Label30, DecimalText(stream));
    unsigned char subId[4];
    input.Read(subId, 4);
    if (IsId(subId, "SSMP")) {
      ++counters.ssmp;
      const std::int32_t dataLength = ReadNumber(input);
      map.Ssmp(static_cast<std::int32_t>(chunkStart + kSsmpDataOffset), dataLength);
    } else if (IsId(subId, "SHDR")) {
      ReadSoundHeader(input, map, window);
      ++counters.shdr;
    }
  } else if (IsId(id, "SSND")) {
    ++counters.ssnd;
    map.Ssnd(chunkSize, static_cast<std::int32_t>(chunkStart + kSsndBodyOffset));
  } else if (IsId(id, "FILM")) {
    ShowFilm(input, chunkStart, window, filmShown);
  }
}

// Walks the form's chunks for a whole "COMM" chunk, and shows its rate and
// compression type (an AIFF-C file's; "NONE" for a plain AIFF, which has
// none). Raises nothing: without a whole COMM chunk the labels keep what
// the fixed reads gave.
void ShowCommonChunk(ByteFile& input, Window& window, bool compressed) {
  IffChunks chunks(input, input.Size());
  for (IffChunk chunk; chunks.Next(chunk);) {
    if (IsId(chunk.id, "COMM")) {
      if (chunk.BodyEnd() > input.Size()) return;
      if (const auto comm = ReadCommonChunk(input, chunk, compressed)) {
        window.SetLabel(ValueLabel::Label15, ExtendedWholePartText(comm->rate) + " (Hz)");
        window.SetLabel(ValueLabel::Label14, FourCharacters(comm->compression));
      }
      return;
    }
  }
}

void ReadIffAudioFile(ByteFile& input, Window& window) {
  unsigned char bytes[4];
  input.Seek(kFormTypeOffset);
  input.Read(bytes, 4);
  window.SetLabel(ValueLabel::Label13, FourCharacters(bytes));
  const bool compressed = IsId(bytes, "AIFC");
  // The first two bytes of the 80-bit rate's mantissa where an AIFF-C file
  // with its FVER chunk first has them; shown until the COMM chunk is found.
  input.Seek(kFormRateOffset);
  input.Read(bytes, 4);
  const int rate = (bytes[0] << 8) | bytes[1];
  window.SetLabel(ValueLabel::Label15, DecimalText(rate) + " (Hz)");
  input.Seek(kFormCompressionOffset);
  input.Read(bytes, 4);
  window.SetLabel(ValueLabel::Label14, FourCharacters(bytes));
  ShowCommonChunk(input, window, compressed);
}

// `filmShown`: Label26 shows a film header of this file.
void WalkChunks(ByteFile& input, MapWriter& map, Window& window, Counters& counters, bool& filmShown) {
  input.Seek(0);
  while (!input.Eof()) {
    const std::int64_t chunkStart = input.Position();
    unsigned char header[kChunkHeaderSize];
    input.Read(header, kChunkHeaderSize);
    const std::int32_t chunkSize = ReadBigEndian32(header + 4);
    HandleChunk(header, chunkStart, chunkSize, input, map, window, counters, filmShown);
    // Bodies are skipped by moving, never read. A size that would move
    // before offset 0 or to 2^31 and beyond fails here.
    input.Seek(chunkStart + chunkSize);
    window.ProcessPendingMessages();
    if (chunkSize < 1) break;
  }
}

}  // namespace

void AnalyzeStream(SharedState& state, Window& window) {
  ByteFile& input = state.InputFile;
  ByteFile& map = state.SecondFile;
  try {
    window.AppendMemoLine(state.SelectedPath);
    state.ProgressStep = 1;
    if (state.VideoFormatShown) window.SetLabel(ValueLabel::Label26, "Unknown");
    state.VideoFormatShown = false;
    Counters counters;

    unsigned char first[4];
    input.Seek(0);
    input.Read(first, 4);
    if (IsId(first, "FORM")) {
      ReadIffAudioFile(input, window);
    } else {
      MapWriter writer(map);
      WalkChunks(input, writer, window, counters, state.VideoFormatShown);
    }
    // The map's last records leave the buffer here, so a full disk ends the
    // pass before the summary, as an unbuffered write would.
    map.Flush();

    state.ProgressStep = 0;
    Progress(state, window);

    window.AppendMemoLine("Summary Info:");
    window.AppendMemoLine("SNDS chunks founded:" + DecimalText(counters.snds));
    window.AppendMemoLine("SHDR sub-chunks founded:" + DecimalText(counters.shdr));
    window.AppendMemoLine("SSMP sub-chunks founded:" + DecimalText(counters.ssmp));
    window.AppendMemoLine("SSND chunks founded:" + DecimalText(counters.ssnd));
    window.AppendMemoLine("");

    input.Close();
    map.Close();
  } catch (...) {
    input.CloseQuietly();
    map.CloseQuietly();
    throw;
  }
}

}  // namespace morvane
