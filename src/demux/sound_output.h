#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/codecs/sound_codec.h"
#include "core/byte_file.h"

namespace morvane {

// What an output's name holds after the base and its number n: the raw
// data BASEn.sound, its WAV BASEn.sound.wav, a film's movie BASEn.film.mkv,
// its poster BASEn.film.png and its WebM movie BASEn.film.webm.
inline constexpr char kSoundSuffix[] = ".sound";
inline constexpr char kWavSuffix[] = ".sound.wav";
inline constexpr char kMovieSuffix[] = ".film.mkv";
inline constexpr char kPosterSuffix[] = ".film.png";
inline constexpr char kWebMovieSuffix[] = ".film.webm";

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
  // The sub-type of every film chunk the walk meets ("FHDR", "FRME",
  // "DFRM", ...), when movies are asked for.
  virtual void FilmChunkMet(const unsigned char* /*subType*/) {}
  // The samples of a WAV as they are decoded: 16-bit little-endian,
  // channels interleaved (an 8-bit WAV's widened x256), as the movies take
  // them.
  virtual void Decoded(const std::string& /*wavPath*/, const unsigned char* /*pcm*/, std::size_t /*bytes*/,
                       int /*channels*/) {}
  virtual void SoundDone(const SoundFacts& /*facts*/) {}
  virtual void MovieDone(const MovieFacts& /*facts*/) {}
  // Where a movie's blocks lie, as they are written (for a player that reads
  // the movie without reading Matroska): each sound track as it joins, and
  // each block, its track (1 the picture), time, key flag, and its bytes'
  // place in the file.
  virtual void MovieTrack(const std::string& /*moviePath*/, int /*track*/, std::size_t /*soundNumber*/,
                          std::int32_t /*rate*/, int /*channels*/) {}
  virtual void MovieBlock(const std::string& /*moviePath*/, int /*track*/, std::int64_t /*ms*/, bool /*key*/,
                          std::int64_t /*offset*/, std::size_t /*size*/) {}
};

// The four bytes of an id as text a user can read: printable ASCII as it is,
// anything else as \xHH.
std::string IdText(const unsigned char* id);

class SoundOutput;

// A run of one output's data decoded apart from the walk (DecodeWorker): the
// data as read, then its samples. Its buffers keep their room from job to
// job.
struct SoundJob {
  SoundOutput* output = nullptr;
  std::unique_ptr<unsigned char[]> data;
  std::size_t dataRoom = 0, dataBytes = 0;
  std::unique_ptr<unsigned char[]> samples;
  std::size_t samplesRoom = 0, sampleBytes = 0;
};

// One output of a batch conversion: the WAV of a decoded stream and, when
// asked for or when the data cannot be decoded, its raw data. The data comes
// in pieces of any length, in file order; a stereo frame may straddle two.
// Nothing here throws: a file that cannot be created or written is told to
// the sink at once and left aside, and the others go on.
class SoundOutput {
 public:
  // `codec` decodes the format (null: the data is kept undecoded, and no
  // WAV is written); `rawPath` or `wavPath` may be empty: that file is not
  // written.
  SoundOutput(const SoundCodec* codec, const SoundFormat& format, std::string rawPath, std::string wavPath,
              ConvertSink& sink);
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  void Take(const unsigned char* data, std::size_t count);
  // The same in two steps, for data gathered into jobs: Decode may run on
  // another thread, and touches nothing but the decoder and the job; Write
  // then writes the job's data and samples as Take would, on the thread that
  // writes. The jobs of an output go through both in the order of their
  // data, and nothing else of the output is used while one is between them.
  void Decode(SoundJob& job);
  void Write(const SoundJob& job);
  // The data a job gathers: its samples (or the raw data alone) make one
  // write that goes straight to the system.
  std::size_t JobBytes() const;
  // Completes the WAV header, closes the files and reports them written.
  // Gives false when a file of this output failed.
  bool Finish();
  const std::string& Name() const { return wavPath_.empty() ? rawPath_ : wavPath_; }
  // Null when the data is kept undecoded.
  const SoundCodec* Codec() const { return codec_; }
  // Whether its data is worth decoding on a second core (DecodeWorker);
  // the others are decoded as they come (Take).
  bool DecodedAside() const { return codec_ && codec_->costly; }
  // Its files are written by a second thread from now on, where there is
  // one (ByteFile::UseWriteBehind).
  void WriteBehind();
  std::int32_t Rate() const { return rate_; }
  int Channels() const { return channels_; }
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

  const SoundCodec* codec_;
  std::unique_ptr<SoundDecoder> decoder_;
  std::int32_t rate_;
  int channels_;
  std::string rawPath_, wavPath_;
  ConvertSink& sink_;
  ByteFile raw_, wav_;
  bool failed_ = false;
  std::uint64_t sampleBytes_ = 0;             // in the WAV
  std::unique_ptr<unsigned char[]> samples_;  // decoded samples, one piece at a time
  std::vector<unsigned char> narrow_;         // an 8-bit WAV's samples
  std::function<void(const unsigned char*, std::size_t)> pcmTaker_;
};

}  // namespace morvane
