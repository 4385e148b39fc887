#include "audio/wav_header.h"

#include <algorithm>
#include <iterator>

#include "core/support.h"

namespace morvane {

namespace {

// The header with its fixed values; the channels, the rate, the byte rate,
// the block align and the two sizes are filled in.
constexpr unsigned char kHeaderTemplate[kWavHeaderSize] = {
    'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',  // RIFF size
    'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   2,   0,    // format block size, PCM, channels
    0,   0,   0,   0,   0,  0, 0, 0, 4,   0,   16,  0,    // rate, byte rate, block align, bits
    'd', 'a', 't', 'a', 0,  0, 0, 0};                     // data size

// Where the reader finds the fields, from the start of a "fmt " chunk's body.
constexpr std::size_t kFormatCodeAt = 0;
constexpr std::size_t kChannelsAt = 2;
constexpr std::size_t kSampleRateAt = 4;
constexpr std::size_t kBitsAt = 14;
constexpr std::size_t kFormatFields = 16;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kFirstChunk = 12;

int ReadLittleEndian16(const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); }

}  // namespace

void WriteWavHeader(unsigned char* image, std::int32_t sampleRate) {
  WriteWavHeader(image, sampleRate, WavHeader::kChannels, 0);
  WriteLittleEndian32(image + WavHeader::kRiffSize, 0);  // a placeholder until the samples are in
}

void WriteWavHeader(unsigned char* image, std::int32_t sampleRate, std::uint16_t channels,
                    std::uint32_t dataSize, std::uint16_t bits) {
  std::copy(std::begin(kHeaderTemplate), std::end(kHeaderTemplate), image);
  const auto bytesPerFrame = static_cast<std::uint16_t>(channels * (bits / 8));
  WriteLittleEndian32(image + WavHeader::kRiffSize,
                      dataSize + (dataSize & 1) + static_cast<std::uint32_t>(kWavHeaderSize - 8));
  WriteLittleEndian16(image + WavHeader::kBitsPerSample, bits);
  WriteLittleEndian16(image + WavHeader::kChannelCount, channels);
  // Any rate is taken as it is, in 32-bit two's complement.
  const auto rate = static_cast<std::uint32_t>(sampleRate);
  WriteLittleEndian32(image + WavHeader::kSampleRate, rate);
  WriteLittleEndian32(image + WavHeader::kByteRate, rate * bytesPerFrame);
  WriteLittleEndian16(image + WavHeader::kBlockAlign, bytesPerFrame);
  WriteLittleEndian32(image + WavHeader::kDataSize, dataSize);
}

void PatchWavSizes(unsigned char* image, std::size_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  WriteLittleEndian32(image + WavHeader::kRiffSize, size - 8);
  WriteLittleEndian32(image + WavHeader::kDataSize, size - static_cast<std::uint32_t>(kWavHeaderSize));
}

bool ReadWavFormat(const unsigned char* image, std::size_t length, WavFormat& format) {
  if (length < kFirstChunk || !IsId(image, "RIFF") || !IsId(image + 8, "WAVE")) return false;
  bool haveFormat = false;
  for (std::size_t at = kFirstChunk; at + kChunkHeaderSize <= length;) {
    const auto size = static_cast<std::uint32_t>(ReadLittleEndian32(image + at + 4));
    const std::size_t body = at + kChunkHeaderSize;
    if (IsId(image + at, "fmt ") && size >= kFormatFields && body + kFormatFields <= length) {
      const unsigned char* fields = image + body;
      format.formatCode = ReadLittleEndian16(fields + kFormatCodeAt);
      format.channels = ReadLittleEndian16(fields + kChannelsAt);
      format.sampleRate = ReadLittleEndian32(fields + kSampleRateAt);
      format.bitsPerSample = ReadLittleEndian16(fields + kBitsAt);
      haveFormat = true;
    } else if (IsId(image + at, "data")) {
      format.dataOffset = body;
      format.dataSize = std::min<std::size_t>(size, length - body);
      return haveFormat;
    }
    // Chunks are padded to an even length.
    at = body + size + (size & 1);
  }
  return false;
}

}  // namespace morvane
