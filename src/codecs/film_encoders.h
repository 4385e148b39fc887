#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane {

// How a WebM movie names the picture's codec.
inline constexpr char kVp9CodecId[] = "V_VP9";

// What an encoder gives back: one packet of the codec, ready for a block of
// the movie.
struct EncodedPacket {
  std::vector<unsigned char> bytes;
  std::int64_t ms = 0;  // pictures: the frame's time; sound: from the track's start, the delay included
  bool key = false;
};

// The film's pictures into VP9: each picture RGB, three bytes a pixel, rows
// top to bottom, at the size given when it was made. Every picture gives one
// packet, in order. The calls give "" or what failed, in the encoder's words.
class PictureEncoder {
 public:
  virtual ~PictureEncoder() = default;
  virtual std::string Encode(const unsigned char* rgb, std::int64_t ms, std::int64_t durationMs,
                             std::vector<EncodedPacket>& out) = 0;
  virtual std::string Finish(std::vector<EncodedPacket>& out) = 0;
};

// A sound track into Opus: 16-bit little-endian PCM, channels interleaved, at
// the rate given when it was made, resampled to Opus's 48 kHz. Packets of
// 20 ms; the first starts `PreSkip()` samples (at 48 kHz) before the sound,
// which a player drops.
class SoundEncoder {
 public:
  virtual ~SoundEncoder() = default;
  virtual std::string Encode(const unsigned char* pcm, std::size_t bytes,
                             std::vector<EncodedPacket>& out) = 0;
  // Encodes what is left, the encoder's delay flushed with silence.
  virtual std::string Finish(std::vector<EncodedPacket>& out) = 0;
  virtual int PreSkip() const = 0;
  virtual std::int32_t Rate() const = 0;
  virtual int Channels() const = 0;
  // The "OpusHead" a WebM track gives as its codec's private data (and
  // PreSkip its delay): known from the start, or only once the first packet
  // is out.
  virtual std::vector<unsigned char> Head() const = 0;
};

// How hard the encoders work: the quality asked of VP9 (its constant
// quality level, 0 best to 63), its speed, and Opus's bit rate a channel.
struct EncoderSettings {
  int vp9Quality = 32;
  int vp9Speed = 5;
  int opusBitsPerChannel = 48000;
};

// The encoders of this build: libvpx, libopus and libsoxr natively, the
// browser's WebCodecs in the page; none in a build without them, where
// these give null and `failure` says "not in this build".
bool FilmEncodersBuilt();
std::unique_ptr<PictureEncoder> MakePictureEncoder(int width, int height, const EncoderSettings& settings,
                                                   std::string& failure);
std::unique_ptr<SoundEncoder> MakeSoundEncoder(std::int32_t rate, int channels,
                                               const EncoderSettings& settings, std::string& failure);

// The "OpusHead" of a track of `channels` (1 or 2) whose encoder drops
// `preSkip` samples, given `rate` as its input's: mapping family 0.
std::vector<unsigned char> OpusHead(int channels, int preSkip, std::int32_t rate);

// RGB to the 4:2:0 planes VP9 takes (BT.601, studio range, as players take
// a VP9 stream that says nothing of its colours): `y` of width x height,
// `u` and `v` of half that each way, rounded up.
void RgbToI420(const unsigned char* rgb, int width, int height, unsigned char* y, int yStride,
               unsigned char* u, unsigned char* v, int uvStride);

}  // namespace morvane
