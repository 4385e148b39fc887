#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/film_poster.h"
#include "demux/film_webm.h"
#include "demux/sound_output.h"
#include "movie/matroska_writer.h"
#include "video/film_codec.h"

namespace morvane {

// What a film header says of its film.
struct FilmHeader {
  unsigned char compression[4] = {0, 0, 0, 0};
  std::int32_t width = 0, height = 0;
  std::int32_t frameCount = 0;  // 0: not said
};

// A sound stream as a movie's track sees it.
struct TrackSound {
  std::size_t number = 0;             // the sound header's, as the WAV's
  const SoundCodec* codec = nullptr;  // null: kept undecoded
  std::int32_t rate = 0;
  int channels = 0;
};

// The milliseconds from the film's first frame to `ticks` (1/240 s) after
// it plus `samples` at `rate`, rounded to the nearest.
std::int64_t MovieMs(std::int64_t ticks, std::int64_t samples, std::int64_t rate);

// One film's movie, FILEn.film.mkv: its frames at their own times and the
// sound that plays beside them. Times are the stream's ticks; a frame's time
// in the movie is its chunk's time less the first frame's. A sound stream
// joins the movie with its first data chunk that plays while the film runs
// (from its first frame to the end of its last); from then on its samples
// follow one another, so the track is the WAV's samples from that point on.
// Sound that begins before the first frame is left out of the movie up to
// that frame, and sound met before the first frame is known is held back
// (in bounded memory) until it comes. Nothing here throws: a failing file
// is told to the sink and the film goes on unwritten.
class FilmOutput {
 public:
  // An empty `path` writes no movie: the film is then only shared as WebM.
  // With a `posterPath`, the film's poster is written there too (FilmPoster).
  FilmOutput(std::size_t number, const FilmHeader& header, const std::string& path, std::uint64_t seed,
             ConvertSink& sink, const std::string& posterPath = "");
  ~FilmOutput();
  FilmOutput(const FilmOutput&) = delete;
  FilmOutput& operator=(const FilmOutput&) = delete;

  // The film is also shared as WebM: its frames and the sound put in the
  // movie go to `webm` too, which is finished with the movie. When the
  // movie fails, so does its WebM.
  void ShareAsWebm(std::unique_ptr<FilmWebm> webm);

  // Whether the frame needs no earlier one: "FRME" in a film that uses
  // "DFRM", a frame whose key flag is set, or, where neither tells, the
  // film's first frame and every frame its codec's key-frame test takes
  // (`bytes` may be null for a frame too large to look into).
  bool IsKey(bool difference, bool flagged, const unsigned char* bytes, std::size_t size);
  // A frame at `time` lasting `duration` ticks; its bytes follow through
  // FrameBytes.
  void BeginFrame(std::int32_t time, std::int32_t duration, bool key, std::size_t size);
  void FrameBytes(const unsigned char* bytes, std::size_t count);

  // A data chunk of the sound at `time`, decoding into `frames` sample
  // frames. Gives true when the film takes it: its samples then follow
  // through SoundPcm, in pieces, until SoundEnds.
  bool SoundBegins(const TrackSound& sound, std::int32_t time, std::int64_t frames);
  void SoundPcm(const unsigned char* pcm, std::size_t bytes);
  void SoundEnds();

  // Whether the film's last frame (by its header's count) has come and
  // `time` is past its end: nothing more plays during the film.
  bool EndedBy(std::int32_t time) const;
  // The file was cut, or the walk ended early, while the film was open:
  // unless all the frames its header counts have come, it is cut short.
  void CutShort() { cut_ = header_.frameCount == 0 || frames_ < header_.frameCount; }
  // Completes the movie and reports it. Gives false when it is not whole.
  bool Finish();

  std::size_t Number() const { return number_; }
  const std::string& Path() const { return path_; }

 private:
  struct Track {
    int number = 0;  // in the movie; 0: left out
    TrackSound sound;
    std::int32_t firstTime = 0;  // the first chunk's time
    std::int64_t samples = 0;    // from the first chunk's start, those left out included
    std::int64_t skip = 0;       // samples still to leave out
    bool told = false;
  };
  // Sound met before the film's first frame: a chunk's samples, whole.
  struct Held {
    TrackSound sound;
    std::int32_t time;
    std::int64_t frames;
    std::vector<unsigned char> pcm;
  };

  void Failed(const std::string& cause);
  // Whether anything is still written: the movie, or a film only shared.
  bool Live() const { return writer_ || (path_.empty() && webm_); }
  // Lets the poster go once it is written or given up.
  void PosterDone();
  // Sends the chunk to its track, joining the movie if it plays during it.
  bool Route(const TrackSound& sound, std::int32_t time, std::int64_t frames);
  void PutSound(const unsigned char* pcm, std::size_t bytes);
  void ReleaseHeld();

  std::size_t number_;
  FilmHeader header_;
  const FilmCodec* codec_;  // null: a codec Morvane knows not
  std::string path_;
  ConvertSink& sink_;
  std::unique_ptr<MatroskaWriter> writer_;
  std::unique_ptr<FilmWebm> webm_;
  std::unique_ptr<FilmPoster> poster_;  // until it is written or given up
  bool posterWhole_ = true;
  bool failed_ = false, cut_ = false;
  bool notWhole_ = false;  // written, but not all of the film as the stream holds it
  bool usesDifference_ = false;
  std::int64_t frames_ = 0;
  bool started_ = false;
  std::int32_t firstTime_ = 0;
  std::int64_t lastEnd_ = 0;  // ticks: the end of the latest frame
  std::int64_t endMs_ = 0;    // of the picture and every track
  std::int32_t frameDuration_ = -1;
  bool durationsAlike_ = true;
  std::map<std::size_t, Track> tracks_;
  Track* current_ = nullptr;  // the chunk in hand
  std::vector<Held> held_;
  std::size_t heldBytes_ = 0;
  bool heldDropped_ = false;
  std::int64_t droppedEnd_ = 0;  // ticks: the end of the latest chunk let go
  bool holding_ = false;
};

}  // namespace morvane
