#include "audio/wav_header.h"

#include <algorithm>

#include "core/support.h"

namespace morvane {

namespace {

void PutId(unsigned char* at, const char (&id)[5]) { std::copy(id, id + 4, at); }

int ReadLittleEndian16(const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); }

constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kFirstChunk = 12;

}  // namespace

void WriteWavHeader(unsigned char* image, std::int32_t sampleRate) {
  WriteWavHeader(image, sampleRate, WavHeader::kChannels, 0);
  WriteLittleEndian32(image + WavHeader::kRiffSize, 0);  // a placeholder until the samples are in
}

void WriteWavHeader(unsigned char* image, std::int32_t sampleRate, std::uint16_t channels,
                    std::uint32_t dataSize) {
  const auto bytesPerFrame = static_cast<std::uint16_t>(channels * (WavHeader::kBits / 8));
  PutId(image + WavHeader::kRiffId, "RIFF");
  WriteLittleEndian32(image + WavHeader::kRiffSize,
                      dataSize + static_cast<std::uint32_t>(kWavHeaderSize - 8));
  PutId(image + WavHeader::kWaveId, "WAVE");
  PutId(image + WavHeader::kFormatId, "fmt ");
  WriteLittleEndian32(image + WavHeader::kFormatBlockSize, WavHeader::kPcmBlockSize);
  WriteLittleEndian16(image + WavHeader::kFormatCode, WavHeader::kPcm);
  WriteLittleEndian16(image + WavHeader::kChannelCount, channels);
  // Any rate is taken as it is, in 32-bit two's complement.
  const auto rate = static_cast<std::uint32_t>(sampleRate);
  WriteLittleEndian32(image + WavHeader::kSampleRate, rate);
  WriteLittleEndian32(image + WavHeader::kByteRate, rate * bytesPerFrame);
  WriteLittleEndian16(image + WavHeader::kBlockAlign, bytesPerFrame);
  WriteLittleEndian16(image + WavHeader::kBitsPerSample, WavHeader::kBits);
  PutId(image + WavHeader::kDataId, "data");
  WriteLittleEndian32(image + WavHeader::kDataSize, dataSize);
}

void PatchWavSizes(unsigned char* image, std::size_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  WriteLittleEndian32(image + WavHeader::kRiffSize, size - 8);
  WriteLittleEndian32(image + WavHeader::kDataSize, size - static_cast<std::uint32_t>(kWavHeaderSize));
}

bool ReadWavFormat(const unsigned char* image, std::size_t length, WavFormat& format) {
  if (length < kFirstChunk || !IsId(image + WavHeader::kRiffId, "RIFF") ||
      !IsId(image + WavHeader::kWaveId, "WAVE"))
    return false;
  bool haveFormat = false;
  for (std::size_t at = kFirstChunk; at + kChunkHeaderSize <= length;) {
    const auto size = static_cast<std::uint32_t>(ReadLittleEndian32(image + at + 4));
    const std::size_t body = at + kChunkHeaderSize;
    constexpr std::size_t kFormatFields = WavHeader::kPcmBlockSize;
    if (IsId(image + at, "fmt ") && size >= kFormatFields && body + kFormatFields <= length) {
      const unsigned char* fields = image + body;
      format.formatCode = ReadLittleEndian16(fields + (WavHeader::kFormatCode - WavHeader::kFormatCode));
      format.channels = ReadLittleEndian16(fields + (WavHeader::kChannelCount - WavHeader::kFormatCode));
      format.sampleRate = ReadLittleEndian32(fields + (WavHeader::kSampleRate - WavHeader::kFormatCode));
      format.bitsPerSample =
          ReadLittleEndian16(fields + (WavHeader::kBitsPerSample - WavHeader::kFormatCode));
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
