#pragma once

#include <cstddef>
#include <memory>

#include "audio/wav_header.h"
#include "core/shared_state.h"

namespace morvane {

class Window;

// The first 140 bytes of a sound file are never decoded.
inline constexpr std::size_t DecodeStartOffset = 140;

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
// The same conversion streamed through fixed buffers, whatever the file's
// size: byte for byte the same WAV, and the same texts on a failure, after
// which no WAV is left.
void StreamToWav(SharedState& state, Window& window);
// The same decode into WaveImage, handed to the player; the images stay.
void PlayInMemory(SharedState& state, Window& window, SoundPlayer& player);

}  // namespace morvane
