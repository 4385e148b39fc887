#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane {

// The 44-byte RIFF WAVE header of a 16-bit PCM stereo file, numbers
// little-endian: "RIFF", RIFF size, "WAVE", "fmt ", 16, format 1 (PCM),
// 2 channels, sample rate, byte rate, 4 bytes a frame, 16 bits, "data",
// data size; the samples follow. Other files change the channels, the bits
// (8-bit samples are unsigned) and what follows from them.
struct WavHeader {
  static constexpr std::size_t kRiffSize = 4;  // image length - 8, patched at the end
  static constexpr std::size_t kChannelCount = 22;
  static constexpr std::size_t kSampleRate = 24;
  static constexpr std::size_t kByteRate = 28;
  static constexpr std::size_t kBlockAlign = 32;
  static constexpr std::size_t kBitsPerSample = 34;
  static constexpr std::size_t kDataSize = 40;  // image length - 44, patched at the end
  static constexpr std::size_t kSize = 44;
  static constexpr std::uint16_t kPcm = 1;
  static constexpr std::uint16_t kChannels = 2;
  static constexpr std::uint16_t kBytesPerFrame = 4;
  static constexpr std::uint16_t kBytesPerSample = 2;
};
inline constexpr std::size_t kWavHeaderSize = WavHeader::kSize;

// Writes the header into its first 44 bytes, both sizes 0. Any rate is
// taken as it is, in 32-bit two's complement.
void WriteWavHeader(unsigned char* image, std::int32_t sampleRate);
// Writes the header of a PCM file of `channels` channels of `bits` (16 or
// 8) whose samples take `dataSize` bytes; the sizes wrap in 32 bits. An odd
// data size is followed by a pad byte, which the RIFF size counts.
void WriteWavHeader(unsigned char* image, std::int32_t sampleRate, std::uint16_t channels,
                    std::uint32_t dataSize, std::uint16_t bits = 16);
// Sets the RIFF and data sizes for an image of that length.
void PatchWavSizes(unsigned char* image, std::size_t length);

// What a player needs of a RIFF WAVE image: its format and where its
// samples lie.
struct WavFormat {
  int formatCode = 0;
  int channels = 0;
  std::int32_t sampleRate = 0;
  int bitsPerSample = 0;
  std::size_t dataOffset = 0;
  std::size_t dataSize = 0;  // held within the image
};

// Reads the format and the data's place from an image, walking its chunks
// from offset 12 so that other chunks before "data" are passed over; false
// when it is no RIFF WAVE image with a "fmt " chunk before its "data".
bool ReadWavFormat(const unsigned char* image, std::size_t length, WavFormat& format);

}  // namespace morvane
