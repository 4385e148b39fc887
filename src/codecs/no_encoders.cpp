// A build without libvpx, libopus and libsoxr (Windows'): no encoder.

#include "codecs/film_encoders.h"

namespace morvane {

bool FilmEncodersBuilt() { return false; }

std::unique_ptr<PictureEncoder> MakePictureEncoder(int, int, const EncoderSettings&, std::string& failure) {
  failure = "not in this build";
  return nullptr;
}

std::unique_ptr<SoundEncoder> MakeSoundEncoder(std::int32_t, int, const EncoderSettings&,
                                               std::string& failure) {
  failure = "not in this build";
  return nullptr;
}

}  // namespace morvane
