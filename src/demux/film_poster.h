#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "demux/sound_output.h"
#include "video/film_codec.h"

namespace morvane {

// A film's poster, FILEn.film.png: the picture of its first key frame,
// decoded by the film's codec with every frame before it (so that what the
// codec carries from frame to frame is there), and written as soon as that
// frame has come whole. A film of a codec Morvane cannot decode gets none,
// and its movie says why. Nothing here throws: a problem is told to the sink.
class FilmPoster {
 public:
  FilmPoster(const FilmCodec& codec, int width, int height, std::string path, ConvertSink& sink);
  ~FilmPoster();

  // A frame of `size` bytes, which follow through FrameBytes.
  void BeginFrame(bool key, std::size_t size);
  void FrameBytes(const unsigned char* bytes, std::size_t count);
  // The film has ended: a poster not yet written is told.
  void FilmEnds();

  // Written, or given up and told.
  bool Done() const { return done_; }
  // Written from a frame decoded whole.
  bool Whole() const { return whole_; }

  // The largest frame a poster is decoded from.
  static constexpr std::size_t kMostFrameBytes = 16 << 20;

 private:
  void GiveUp(const std::string& why);
  void Write(const std::string& problem);

  std::string path_;
  ConvertSink& sink_;
  std::unique_ptr<FilmDecoder> decoder_;
  std::vector<unsigned char> frame_;
  std::size_t size_ = 0;
  bool key_ = false;
  bool skipping_ = false;  // the frame in hand is too large to decode
  bool done_ = false, whole_ = false;
};

}  // namespace morvane
