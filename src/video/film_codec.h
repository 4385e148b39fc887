#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane {

// A film's decoder: keeps what the codec carries from frame to frame.
class FilmDecoder {
 public:
  virtual ~FilmDecoder() = default;
  // Decodes one frame (its bytes as the movie stores them) onto the picture. Gives "" when the
  // frame decoded whole, else what was wrong, naming the frame (the picture then holds what
  // could be decoded).
  virtual std::string Decode(const unsigned char* frame, std::size_t size) = 0;
  // The picture: Width() x Height() pixels, three bytes each (red, green, blue), rows top to bottom.
  virtual const std::vector<unsigned char>& Rgb() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

// What Morvane knows of a film codec, found by the four characters of the
// film header's compression type: how a Matroska movie names it and what
// it needs to decode, and how to tell a frame that needs no earlier one.
// A new codec is one row of the table in film_codec.cpp.
struct FilmCodec {
  char fourcc[5];               // the film header's compression type: "cvid"
  const char* name;             // for people: "Cinepak"
  const char* matroskaCodecId;  // the movie track's CodecID
  // The movie track's CodecPrivate for a picture of that size.
  std::vector<unsigned char> (*codecPrivate)(const unsigned char fourcc[4], std::uint32_t width,
                                             std::uint32_t height);
  // Whether the frame needs no earlier one, from its bytes alone; false
  // for bytes that are not a whole frame.
  bool (*isKeyFrame)(const unsigned char* frame, std::size_t size);
  // A decoder for a film of that picture size; raises std::invalid_argument
  // for a size it does not take.
  std::unique_ptr<FilmDecoder> (*makeDecoder)(int width, int height);
};

// The codecs Morvane knows, in the table's order.
const std::vector<FilmCodec>& FilmCodecs();

// The codec of that compression type, or null when Morvane knows it not.
const FilmCodec* FindFilmCodec(const unsigned char compression[4]);

// How a movie's picture track names its codec.
struct FilmTrackCodec {
  std::string codecId;
  std::vector<unsigned char> codecPrivate;
};

// The picture track's codec for a film of that compression type and size:
// the known codec's, or, for any other type, its frames as they are under
// Video for Windows' tag (a BITMAPINFOHEADER holding the four characters),
// which players that know the codec may still play.
FilmTrackCodec MovieTrackCodec(const unsigned char compression[4], std::uint32_t width, std::uint32_t height);

// Video for Windows' BITMAPINFOHEADER, little-endian, for a picture of that
// codec and size: the CodecPrivate of a "V_MS/VFW/FOURCC" track.
std::vector<unsigned char> VfwBitmapInfoHeader(const unsigned char fourcc[4], std::uint32_t width,
                                               std::uint32_t height);
inline constexpr char kVfwCodecId[] = "V_MS/VFW/FOURCC";

}  // namespace morvane
