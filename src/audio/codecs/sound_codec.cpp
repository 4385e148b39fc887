#include "audio/codecs/sound_codec.h"

#include <algorithm>
#include <cstring>

#include "audio/codecs/adp4.h"
#include "audio/codecs/cbd2.h"
#include "audio/codecs/pcm.h"
#include "audio/codecs/sdx2_codec.h"

namespace morvane {

SoundDecoder::SoundDecoder(std::size_t unitBytes, std::size_t unitFrames, int channels)
    : unitBytes_(unitBytes), unitFrames_(unitFrames), channels_(channels) {}

std::size_t SoundDecoder::SampleBytesFor(std::size_t count) const {
  return (pendingCount_ + count) / unitBytes_ * unitFrames_ * static_cast<std::size_t>(channels_) * 2;
}

std::int64_t SoundDecoder::FramesFor(std::int64_t count) const {
  return (static_cast<std::int64_t>(pendingCount_) + count) / static_cast<std::int64_t>(unitBytes_) *
         static_cast<std::int64_t>(unitFrames_);
}

std::size_t SoundDecoder::Decode(const unsigned char* in, std::size_t count, unsigned char* out) {
  const std::size_t unitOut = unitFrames_ * static_cast<std::size_t>(channels_) * 2;
  std::size_t produced = 0;
  if (pendingCount_ > 0) {
    // The unit begun in the piece before leads this one.
    const std::size_t taken = std::min(count, unitBytes_ - pendingCount_);
    std::memcpy(pending_ + pendingCount_, in, taken);
    pendingCount_ += taken;
    in += taken;
    count -= taken;
    if (pendingCount_ < unitBytes_) return 0;
    DecodeUnits(pending_, 1, out);
    pendingCount_ = 0;
    produced = unitOut;
  }
  const std::size_t units = count / unitBytes_;
  DecodeUnits(in, units, out + produced);
  produced += units * unitOut;
  pendingCount_ = count - units * unitBytes_;
  std::memcpy(pending_, in + units * unitBytes_, pendingCount_);
  return produced;
}

const std::vector<SoundCodec>& SoundCodecs() {
  // Uncompressed data is named "NONE", four zero bytes or four blanks.
  static const std::vector<SoundCodec> codecs = {
      {"SDX2", {"SDX2", nullptr}, 0, 2, 1, 1, 16, MakeSdx2Decoder, false},
      {"CBD2", {"CBD2", nullptr}, 0, 2, 1, 1, 16, MakeCbd2Decoder, false},
      {"ADP4", {"ADP4", nullptr}, 0, 1, 1, 2, 16, MakeAdp4Decoder, true},
      {"uncompressed 16-bit",
       {"NONE", "\0\0\0\0", "    ", nullptr},
       16,
       2,
       2,
       1,
       16,
       MakePcm16Decoder,
       false},
      {"uncompressed 8-bit", {"NONE", "\0\0\0\0", "    ", nullptr}, 8, 2, 1, 1, 8, MakePcm8Decoder, false},
  };
  return codecs;
}

const SoundCodec* FindSoundCodec(const SoundFormat& format, std::string& why) {
  why.clear();
  const SoundCodec* typeKnown = nullptr;
  for (const SoundCodec& codec : SoundCodecs()) {
    bool named = false;
    for (const char* const* type = codec.types; *type != nullptr && !named; ++type)
      named = std::memcmp(*type, format.compression, 4) == 0;
    if (!named) continue;
    if (!typeKnown) typeKnown = &codec;
    if (codec.sampleSize != 0 && codec.sampleSize != format.sampleSize) continue;
    if (format.channels < 1 || format.channels > codec.mostChannels) {
      why = codec.mostChannels == 1 ? std::string(codec.name) + " is decoded in mono only"
                                    : std::string(codec.name) + " is decoded in mono and stereo only";
      return nullptr;
    }
    if (format.rate <= 0) {
      why = "no rate to play it at";
      return nullptr;
    }
    return &codec;
  }
  if (typeKnown && typeKnown->sampleSize != 0) {
    why = "uncompressed sound is decoded at 8 and 16 bits a sample only, not " +
          std::to_string(format.sampleSize);
  } else if (typeKnown && format.rate <= 0) {
    why = "no rate to play it at";
  }
  return nullptr;
}

void NarrowTo8Bit(const unsigned char* pcm16, std::size_t samples, unsigned char* out) {
  for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<unsigned char>(pcm16[2 * i + 1] ^ 0x80);
}

}  // namespace morvane
