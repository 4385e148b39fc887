#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <vector>

#include "audio/demo_film.h"

namespace morvane {

class ByteFile;

// A chunk stream to try the program on: a stereo melody, SDX2-encoded, in
// one or more sound streams one after another, and a film beside the first.
// Each sound stream is an "SNDS"/"SHDR" chunk followed by its "SSMP"
// chunks; the film is a "FILM"/"FHDR" chunk before the first sound header,
// then its "FILM"/"FRME" chunks, each before the first sound chunk that
// starts no earlier than it. The stream is cut into blocks, each opened by a "CTRL"
// chunk and padded to its end by a "FILL" chunk, as such files are laid out.
struct DemoStreamOptions {
  double seconds = 4.0;                              // of melody in every sound stream
  std::vector<std::int32_t> rates = {22050, 22050};  // one sample rate per sound stream
  std::size_t soundChunkData = 4096;                 // sound bytes per "SSMP" chunk
  DemoFilmOptions film;                              // film.frameTicks 0: no film
  std::size_t blockSize = 32768;                     // every block ends on this size; 0: no blocks
};

// The first 140 bytes of a sound file are never decoded by the WAV
// conversion, so each sound stream opens with that many bytes of encoded
// silence (exact zero bytes) before its melody.
inline constexpr std::size_t kDemoPaddingBytes = 140;

// Frames of melody in the given sound stream.
std::size_t DemoStreamFrames(const DemoStreamOptions& options, std::size_t stream);

// The melody's frames from `firstFrame` on at `rate`, starting `offsetSeconds`
// into the tune, left and right interleaved.
void DemoMelodyFrames(std::int32_t rate, double offsetSeconds, std::int64_t firstFrame, std::size_t frames,
                      std::int16_t* interleaved);

// The PCM that the given sound stream encodes (without its padding): each
// stream carries on the tune where the one before it ended.
std::vector<std::int16_t> DemoStreamMelody(const DemoStreamOptions& options, std::size_t stream);

// Writes the stream piece by piece, never more than a chunk at once, so that
// a stream of any length can be made. Raises std::invalid_argument when the
// options leave no room for a block's chunks.
using ByteSink = std::function<void(const unsigned char* bytes, std::size_t count)>;
void WriteDemoStream(const DemoStreamOptions& options, const ByteSink& sink);
void WriteDemoStream(const DemoStreamOptions& options, ByteFile& file);
void WriteDemoStream(const DemoStreamOptions& options, std::ostream& out);

}  // namespace morvane
