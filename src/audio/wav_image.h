#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/shared_state.h"

namespace morvane {

class Window;

inline constexpr std::size_t kWavHeaderSize = 44;
// The first 140 bytes of a sound file are never decoded.
inline constexpr std::size_t DecodeStartOffset = 140;

// The 44-byte header of a 16-bit PCM WAV file of `channels` channels and
// `dataSize` bytes of samples. The sizes wrap in 32 bits; the rate is stored
// as given, in 32-bit two's complement.
void FillWavHeader(unsigned char* header, std::int32_t sampleRate, std::uint16_t channels,
                   std::uint32_t dataSize);

// Plays a complete RIFF WAVE image held in memory, in the background,
// reading the bytes in place. Its result is not reported.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void Play(std::shared_ptr<const ByteImage> image) = 0;
  // Stops what is playing and lets go of its image.
  virtual void Stop() {}
};

// Creates both images, closes InputFile, loads SelectedPath into SourceImage
// and writes the WAV header (rate from Edit1) into WaveImage.
void PrepareWave(SharedState& state, Window& window);
// PrepareWave, decode, patch the sizes, write SelectedPath + ".wav", release.
void ConvertToWav(SharedState& state, Window& window);
// The same decode into WaveImage, handed to the player; the images stay.
void PlayInMemory(SharedState& state, Window& window, SoundPlayer& player);

}  // namespace morvane
