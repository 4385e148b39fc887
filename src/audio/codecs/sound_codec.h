#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane {

// What a sound header (or an AIFF's COMM chunk) says of its stream's data.
struct SoundFormat {
  unsigned char compression[4] = {0, 0, 0, 0};
  std::int32_t channels = 0;
  std::int32_t rate = 0;
  std::int32_t sampleSize = 0;  // bits; what uncompressed data holds
};

// Decodes one stream's data into 16-bit samples (little-endian, channels
// interleaved), carrying its state from piece to piece: the data may come
// split anywhere, and the bytes of a unit not yet whole wait for the next
// piece. A unit is the least run of bytes that decodes alone: one byte of
// every channel for SDX2, two bytes of every channel for 16-bit samples.
class SoundDecoder {
 public:
  // `unitBytes` bytes of data make `unitFrames` sample frames of `channels`.
  SoundDecoder(std::size_t unitBytes, std::size_t unitFrames, int channels);
  virtual ~SoundDecoder() = default;
  SoundDecoder(const SoundDecoder&) = delete;
  SoundDecoder& operator=(const SoundDecoder&) = delete;

  // Decodes `count` bytes into `out`, which holds SampleBytesFor(count)
  // bytes; gives the bytes of samples written.
  std::size_t Decode(const unsigned char* in, std::size_t count, unsigned char* out);
  // The bytes of samples the next `count` bytes of data decode into.
  std::size_t SampleBytesFor(std::size_t count) const;
  // The whole sample frames the next `count` bytes of data complete.
  std::int64_t FramesFor(std::int64_t count) const;
  int Channels() const { return channels_; }

 protected:
  // Decodes `units` whole units.
  virtual void DecodeUnits(const unsigned char* in, std::size_t units, unsigned char* out) = 0;

 private:
  std::size_t unitBytes_, unitFrames_;
  int channels_;
  unsigned char pending_[8] = {};
  std::size_t pendingCount_ = 0;
};

// A sound codec of the streams: which compression types it decodes, for
// which channel counts and sample sizes, how many of a channel's bytes make
// how many of its samples, and the WAV it is written as. A new codec is one
// file in this folder and one row of the table in sound_codec.cpp.
struct SoundCodec {
  const char* name;  // as messages name it
  // The compression types it decodes, as their four bytes; null ends.
  const char* types[4];
  int sampleSize;  // the only sample size it decodes; 0: any
  int mostChannels;
  int channelBytes, channelSamples;  // a channel's bytes, and the samples they make
  int wavBits;                       // 16, or 8 (written unsigned; widened x256 elsewhere)
  std::unique_ptr<SoundDecoder> (*makeDecoder)(int channels);
  // Decoding costs more than the system's copy of the samples it makes: a
  // conversion decodes it on a second core while it writes, where the
  // others are decoded as they are read and written by a second core.
  bool costly;
};

// Every codec, in the table's order.
const std::vector<SoundCodec>& SoundCodecs();

// The codec that decodes the format, or null when none does; `why` then
// says what stops it when a codec knows the type (empty for a type no
// codec knows). A rate that is not positive decodes into no playable file.
const SoundCodec* FindSoundCodec(const SoundFormat& format, std::string& why);

// 16-bit samples to an 8-bit WAV's: the high byte, unsigned (+128).
void NarrowTo8Bit(const unsigned char* pcm16, std::size_t samples, unsigned char* out);

}  // namespace morvane
