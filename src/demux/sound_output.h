#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/sdx2.h"
#include "core/byte_file.h"

namespace morvane {

// What an output's name holds after the base and its number n: the raw
// data BASEn.sound, its WAV BASEn.sound.wav, a film's movie BASEn.film.mkv.
inline constexpr char kSoundSuffix[] = ".sound";
inline constexpr char kWavSuffix[] = ".sound.wav";
inline constexpr char kMovieSuffix[] = ".film.mkv";
inline constexpr char kWebmSuffix[] = ".film.webm";

// What a WAV written whole holds, told just before its name.
struct SoundFacts {
  std::string path;
  std::int32_t rate = 0;
  int channels = 0;
  std::int64_t frames = 0;  // sample frames
};

// What a movie written holds, told just before its name.
struct MovieFacts {
  std::string path;
  char codec[5] = {0, 0, 0, 0, 0};  // the film header's compression type
  std::int32_t width = 0, height = 0;
  std::int64_t frames = 0;
  std::int64_t durationMs = 0;
  int soundTracks = 0;
};

// Where a batch conversion reports: the files it wrote, whole, and every
// problem as a name (a file of the batch) and what happened to it. The
// hooks with a body are for front ends that show more than names (the web
// page's cards); the others leave them as they are.
class ConvertSink {
 public:
  virtual ~ConvertSink() = default;
  virtual void Wrote(const std::string& path) = 0;
  virtual void Tell(const std::string& name, const std::string& text) = 0;
  // How far the walk of the present input has come.
  virtual void Progress(std::int64_t /*done*/, std::int64_t /*total*/) {}
  // Every chunk the walk meets: its id, where it starts and its size as the
  // header gives it.
  virtual void ChunkMet(const unsigned char* /*id*/, std::int64_t /*start*/, std::int64_t /*size*/) {}
  // The samples of a WAV as they are decoded: 16-bit little-endian,
  // channels interleaved, as the WAV holds them.
  virtual void Decoded(const std::string& /*wavPath*/, const unsigned char* /*pcm*/, std::size_t /*bytes*/,
                       int /*channels*/) {}
  virtual void SoundDone(const SoundFacts& /*facts*/) {}
  virtual void MovieDone(const MovieFacts& /*facts*/) {}
};

// What a sound header says of its stream's data.
struct SoundFormat {
  unsigned char compression[4] = {0, 0, 0, 0};
  std::int32_t channels = 0;
  std::int32_t rate = 0;
};

// How a stream's data is written: decoded into a 16-bit PCM WAV, or kept
// as it is because nothing here can decode it.
enum class SoundCoding { kSdx2Stereo, kSdx2Mono, kUndecoded };
SoundCoding CodingOf(const SoundFormat& format);

// The four bytes of an id as text a user can read: printable ASCII as it is,
// anything else as \xHH.
std::string IdText(const unsigned char* id);

// One output of a batch conversion: the WAV of a decoded stream and, when
// asked for or when the data cannot be decoded, its raw data. The data comes
// in pieces of any length, in file order; a stereo frame may straddle two.
// Nothing here throws: a file that cannot be created or written is told to
// the sink at once and left aside, and the others go on.
class SoundOutput {
 public:
  // `rawPath` or `wavPath` may be empty: that file is not written.
  SoundOutput(SoundCoding coding, std::int32_t rate, std::string rawPath, std::string wavPath,
              ConvertSink& sink);
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  void Take(const unsigned char* data, std::size_t count);
  // Completes the WAV header, closes the files and reports them written.
  // Gives false when a file of this output failed.
  bool Finish();
  const std::string& Name() const { return wavPath_.empty() ? rawPath_ : wavPath_; }
  SoundCoding Coding() const { return coding_; }
  std::int32_t Rate() const { return rate_; }
  int Channels() const;
  // The whole sample frames the next `count` bytes of data decode into.
  std::int64_t FramesFor(std::int64_t count) const;
  // Where the decoded samples go besides the WAV (the movies beside the
  // sound), in pieces as they are decoded; they go there even when the WAV
  // has failed.
  void SetPcmTaker(std::function<void(const unsigned char* pcm, std::size_t bytes)> taker) {
    pcmTaker_ = std::move(taker);
  }

 private:
  void FinishWav();
  // Hands a piece of decoded samples to the WAV and the taker.
  void Put(const unsigned char* pcm, std::size_t bytes);
  void Fail(ByteFile& file, const std::string& path, const std::string& cause);

  SoundCoding coding_;
  std::int32_t rate_;
  std::string rawPath_, wavPath_;
  ConvertSink& sink_;
  ByteFile raw_, wav_;
  bool failed_ = false;
  Sdx2State stereo_;
  std::int16_t mono_ = 0;
  // A stereo frame's first byte whose second byte has not come yet.
  bool pending_ = false;
  unsigned char pendingByte_ = 0;
  std::uint64_t sampleBytes_ = 0;
  std::unique_ptr<unsigned char[]> samples_;  // decoded samples, one piece at a time
  std::function<void(const unsigned char*, std::size_t)> pcmTaker_;
};

}  // namespace morvane
