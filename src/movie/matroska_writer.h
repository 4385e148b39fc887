#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_file.h"
#include "movie/ebml.h"

namespace morvane {

// The container's two flavours: Matroska, which holds any codec, and WebM,
// its subset for VP9 and Opus that browsers play.
enum class MovieKind { kMatroska, kWebm };

// The picture of a movie: its codec as Matroska names it, the codec's
// private data (both from the film's codec description, video/film_codec.h,
// or "V_VP9" and none in a WebM movie) and the picture's size.
struct MovieVideo {
  std::string codecId;
  std::vector<unsigned char> codecPrivate;
  std::uint32_t width = 0, height = 0;
};

// A sound track: in a Matroska movie 16-bit little-endian PCM, channels
// interleaved, at `rate`; in a WebM movie Opus packets (decoded at 48 kHz,
// `rate` being the rate of the sound given to the encoder), its "OpusHead"
// as the codec's private data, and the encoder's delay, which a player
// drops from the track's start.
struct MovieSound {
  MovieSound(std::int32_t rateGiven, int channelsGiven) : rate(rateGiven), channels(channelsGiven) {}
  std::int32_t rate;
  int channels;
  std::vector<unsigned char> opusHead;
  std::uint64_t codecDelayNs = 0;
  std::uint64_t seekPreRollNs = 0;
};

// What the end of a movie tells the header.
struct MovieEnd {
  std::int64_t durationMs = 0;
  // Every frame's duration when they are all alike; 0 when they are not.
  std::uint64_t frameDurationNs = 0;
};

// A Matroska movie, written as it comes: the EBML header, a segment whose
// seek head, track list and duration are filled in at the end, clusters of
// simple blocks (a new one at every key frame of the picture, and before a
// block's time would leave the cluster's 16-bit range or the cluster would
// pass 5 seconds), and cues that point at the clusters of the key frames, so
// that a player can seek. Times are milliseconds from the movie's start.
// Nothing here knows where the frames and samples come from. The file goes
// through the file layer (a temporary name until Finish); a failure of the
// file raises its CommandError, and the caller then calls Discard.
class MatroskaWriter {
 public:
  // Sound tracks a movie can hold: the room kept for the track list fits
  // this many.
  static constexpr int kMostSoundTracks = 32;

  // `seed` makes the movie's identifiers: the same seed, the same bytes.
  MatroskaWriter(const std::string& path, std::uint64_t seed, const MovieVideo& video,
                 MovieKind kind = MovieKind::kMatroska);
  // A movie not finished is removed.
  ~MatroskaWriter() { file_.Discard(); }
  MatroskaWriter(const MatroskaWriter&) = delete;
  MatroskaWriter& operator=(const MatroskaWriter&) = delete;

  // Adds a sound track; its entry is listed by `order` among the sound
  // tracks. Gives its track number, or 0 when kMostSoundTracks are there.
  int AddSound(const MovieSound& sound, std::size_t order);
  // What a sound track's entry says, until Finish writes the list: an
  // encoder may tell its head only once it has encoded.
  void UpdateSound(int number, const MovieSound& sound);

  // A block of `size` bytes for the track (1 is the picture) at `ms`; its
  // bytes follow through BlockBytes. A key block of the picture starts a
  // cluster and a cue point. Gives where the block's bytes begin in the file.
  std::int64_t BeginBlock(int track, std::int64_t ms, bool key, std::size_t size);
  void BlockBytes(const unsigned char* bytes, std::size_t count);
  std::int64_t Block(int track, std::int64_t ms, bool key, const unsigned char* bytes, std::size_t size) {
    const std::int64_t at = BeginBlock(track, ms, key, size);
    BlockBytes(bytes, size);
    return at;
  }

  // Writes the cues, the track list, the seek head and the sizes, and puts
  // the file in place.
  void Finish(const MovieEnd& end);
  // Removes the unfinished file; what stood at its name stays.
  void Discard() noexcept { file_.Discard(); }

  const std::string& Path() const { return file_.Path(); }

 private:
  struct Cue {
    std::int64_t ms;
    std::int64_t cluster;   // from the segment's body
    std::int64_t relative;  // of the block, from the cluster's body
  };
  struct SoundTrack {
    MovieSound sound;
    std::size_t order;
    int number;
  };

  void WriteHead();
  std::int64_t Position() { return file_.Size(); }
  void Patch(std::int64_t at, const EbmlBytes& bytes);
  void StartCluster(std::int64_t ms);
  void CloseCluster();
  // A block left short by a failing input gets the size it has.
  void CloseBlock();
  void KeepCue(const Cue& cue);
  EbmlBytes TracksBody(const MovieVideo& video, const std::vector<SoundTrack>& sounds,
                       std::uint64_t frameDurationNs) const;

  ByteFile file_;
  std::uint64_t seed_;
  MovieVideo video_;
  MovieKind kind_;
  std::vector<SoundTrack> sounds_;
  std::int64_t segmentBody_ = 0;  // where the segment's body starts
  std::int64_t seekHeadRoom_ = 0, infoAt_ = 0, durationAt_ = 0, tracksRoom_ = 0;
  std::size_t tracksRoomSize_ = 0;
  std::int64_t clusterAt_ = -1, clusterMs_ = 0;
  std::int64_t blockSizeAt_ = -1;  // the open block's size field
  std::uint64_t blockLeft_ = 0, blockGiven_ = 0;
  int blockSizeWidth_ = 0;
  std::vector<Cue> cues_;
  std::int64_t cueSpacing_ = 1;  // cues kept: one every this many key frames
  std::int64_t keyFrames_ = 0;
};

}  // namespace morvane
