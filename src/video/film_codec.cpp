#include "video/film_codec.h"

#include <algorithm>
#include <cstring>

#include "video/cinepak.h"
#include "video/cinepak_decoder.h"

namespace morvane {

namespace {

void PutLittleEndian(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
}

template <typename Decoder>
std::unique_ptr<FilmDecoder> MakeDecoder(int width, int height) {
  return std::make_unique<Decoder>(width, height);
}

}  // namespace

std::vector<unsigned char> VfwBitmapInfoHeader(const unsigned char fourcc[4], std::uint32_t width,
                                               std::uint32_t height) {
  std::vector<unsigned char> header(40, 0);
  PutLittleEndian(header, 0, 40, 4);  // the header's own size
  PutLittleEndian(header, 4, width, 4);
  PutLittleEndian(header, 8, height, 4);
  PutLittleEndian(header, 12, 1, 2);   // planes
  PutLittleEndian(header, 14, 24, 2);  // bits per pixel
  std::copy(fourcc, fourcc + 4, header.begin() + 16);
  return header;
}

const std::vector<FilmCodec>& FilmCodecs() {
  static const std::vector<FilmCodec> codecs = {
      {"cvid", "Cinepak", kVfwCodecId, VfwBitmapInfoHeader, IsCinepakIntraFrame, MakeDecoder<CinepakDecoder>},
  };
  return codecs;
}

const FilmCodec* FindFilmCodec(const unsigned char compression[4]) {
  for (const FilmCodec& codec : FilmCodecs())
    if (std::memcmp(codec.fourcc, compression, 4) == 0) return &codec;
  return nullptr;
}

FilmTrackCodec MovieTrackCodec(const unsigned char compression[4], std::uint32_t width,
                               std::uint32_t height) {
  if (const FilmCodec* codec = FindFilmCodec(compression))
    return {codec->matroskaCodecId, codec->codecPrivate(compression, width, height)};
  return {kVfwCodecId, VfwBitmapInfoHeader(compression, width, height)};
}

}  // namespace morvane
