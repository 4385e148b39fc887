#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codecs/film_encoders.h"
#include "demux/sound_output.h"
#include "movie/matroska_writer.h"

namespace morvane {

class FilmDecoder;

// One film made shareable, FILEn.film.webm beside its movie: each frame
// decoded by its codec's decoder (Cinepak's) and encoded into VP9 at its own time, and the movie's first
// sound track (every one, with `allTracks`) encoded into Opus from where it
// starts in the movie. The movie feeds it what it writes itself. Packets
// are written in the order of their times (within a short window), so that
// the file streams. Nothing here throws: a failing file or encoder is told
// to the sink, and the WebM is then left out.
class FilmWebm {
 public:
  FilmWebm(const std::string& path, std::uint64_t seed, const unsigned char compression[4],
           std::int32_t width, std::int32_t height, bool allTracks, ConvertSink& sink);
  ~FilmWebm();
  FilmWebm(const FilmWebm&) = delete;
  FilmWebm& operator=(const FilmWebm&) = delete;

  // A frame shown from `ms` for `durationMs`; its `size` bytes follow
  // through FrameBytes, and the frame is encoded when they are all there.
  void BeginFrame(std::int64_t ms, std::int64_t durationMs, std::size_t size);
  void FrameBytes(const unsigned char* bytes, std::size_t count);
  // Samples of the sound numbered `number` (16-bit PCM, interleaved) that
  // the movie puts at `ms`: its track starts with the first, and the rest
  // follow one another.
  void Sound(std::size_t number, std::int32_t rate, int channels, std::int64_t ms, const unsigned char* pcm,
             std::size_t bytes);
  // Encodes what is left and puts the file in place; `end` as the movie's.
  // Gives false when no whole WebM was written (and says why).
  bool Finish(const MovieEnd& end);

  const std::string& Path() const { return path_; }

 private:
  struct Track {
    int number = 0;  // in the WebM; 0: left out
    std::int64_t startMs = 0;
    std::unique_ptr<SoundEncoder> encoder;
  };
  struct Pending {
    int track;
    EncodedPacket packet;
  };

  void Failed(const std::string& cause);
  void Queue(int track, std::vector<EncodedPacket>& packets, std::int64_t offsetMs);
  // Writes the packets queued up to `ms`.
  void WriteUpTo(std::int64_t ms);

  std::string path_;
  ConvertSink& sink_;
  bool allTracks_;
  std::unique_ptr<MatroskaWriter> writer_;
  std::unique_ptr<FilmDecoder> decoder_;
  std::unique_ptr<PictureEncoder> pictures_;
  std::map<std::size_t, Track> tracks_;
  std::multimap<std::int64_t, Pending> queue_;  // by time, in the order they came
  std::int64_t newestMs_ = 0;
  std::vector<unsigned char> frame_;
  std::size_t frameSize_ = 0, frameTotal_ = 0;  // bytes to come, and the whole frame's
  std::int64_t frameMs_ = 0, frameDurationMs_ = 0, frames_ = 0;
  std::int64_t badFrames_ = 0;
  bool failed_ = false;
};

}  // namespace morvane
