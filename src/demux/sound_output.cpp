#include "demux/sound_output.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "audio/wav_header.h"
#include "core/errors.h"

namespace morvane {

namespace {

constexpr std::size_t kPiece = 32 * 1024;  // input bytes decoded at a time
constexpr std::size_t kSampleBytes = 2;    // 16-bit PCM
// The WAV's sizes are 32-bit: the RIFF size counts 36 bytes of header too.
constexpr std::uint64_t kMostSampleBytes = std::numeric_limits<std::uint32_t>::max() - (kWavHeaderSize - 8);

std::uint16_t ChannelsOf(SoundCoding coding) { return coding == SoundCoding::kSdx2Mono ? 1 : 2; }

}  // namespace

SoundCoding CodingOf(const SoundFormat& format) {
  if (std::memcmp(format.compression, "SDX2", 4) != 0 || format.rate <= 0) return SoundCoding::kUndecoded;
  if (format.channels == 2) return SoundCoding::kSdx2Stereo;
  if (format.channels == 1) return SoundCoding::kSdx2Mono;
  return SoundCoding::kUndecoded;
}

std::string IdText(const unsigned char* id) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (id[i] >= 0x20 && id[i] < 0x7F && id[i] != '\\') {
      text += static_cast<char>(id[i]);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", id[i]);
      text += escaped;
    }
  }
  return text;
}

SoundOutput::SoundOutput(SoundCoding coding, std::int32_t rate, std::string rawPath, std::string wavPath,
                         ConvertSink& sink)
    : coding_(coding), rate_(rate), rawPath_(std::move(rawPath)), wavPath_(std::move(wavPath)), sink_(sink) {
  if (coding_ == SoundCoding::kUndecoded) wavPath_.clear();
  // A piece, and the frame begun in the piece before it.
  if (coding_ != SoundCoding::kUndecoded) samples_.reset(new unsigned char[kPiece * kSampleBytes + 4]);
  try {
    if (!rawPath_.empty()) raw_.Open(rawPath_, ByteFile::Mode::kCreate);
  } catch (const CommandError& error) {
    Fail(raw_, rawPath_, ErrorCause(error));
  }
  try {
    if (!wavPath_.empty()) {
      wav_.Open(wavPath_, ByteFile::Mode::kCreate);
      // The sizes are filled in when the stream ends.
      unsigned char header[kWavHeaderSize];
      WriteWavHeader(header, rate_, ChannelsOf(coding_), 0);
      wav_.Write(header, kWavHeaderSize);
    }
  } catch (const CommandError& error) {
    Fail(wav_, wavPath_, ErrorCause(error));
  }
}

void SoundOutput::Fail(ByteFile& file, const std::string& path, const std::string& cause) {
  file.CloseQuietly();
  failed_ = true;
  sink_.Tell(path, cause);
}

int SoundOutput::Channels() const { return ChannelsOf(coding_); }

std::int64_t SoundOutput::FramesFor(std::int64_t count) const {
  if (coding_ == SoundCoding::kUndecoded) return 0;
  if (coding_ == SoundCoding::kSdx2Mono) return count;
  return (count + (pending_ ? 1 : 0)) / 2;
}

void SoundOutput::Put(const unsigned char* pcm, std::size_t bytes) {
  // The movies take every sample whatever becomes of the WAV.
  if (pcmTaker_) pcmTaker_(pcm, bytes);
  if (!wav_.IsOpen()) return;
  if (sampleBytes_ + bytes > kMostSampleBytes) {
    // What was decoded before stays a playable file.
    sink_.Tell(wavPath_, "too long for a WAV file; converted as far as a WAV file can hold");
    failed_ = true;
    FinishWav();
    return;
  }
  try {
    wav_.Write(pcm, bytes);
    sink_.Decoded(wavPath_, pcm, bytes, ChannelsOf(coding_));
    sampleBytes_ += bytes;
  } catch (const CommandError& error) {
    Fail(wav_, wavPath_, ErrorCause(error));
  }
}

void SoundOutput::Take(const unsigned char* data, std::size_t count) {
  if (raw_.IsOpen()) {
    try {
      raw_.Write(data, count);
    } catch (const CommandError& error) {
      Fail(raw_, rawPath_, ErrorCause(error));
    }
  }
  // Decoded even when no file takes the samples now: each piece goes on
  // from the state the one before left, and a movie may take later ones.
  if (coding_ == SoundCoding::kUndecoded) return;
  while (count > 0) {
    std::size_t piece = std::min(count, kPiece);
    std::size_t produced = 0;
    if (coding_ == SoundCoding::kSdx2Stereo) {
      if (pending_) {
        // The frame begun in the last piece leads this one.
        const unsigned char frame[2] = {pendingByte_, data[0]};
        DecodeSdx2Frames(stereo_, frame, 1, samples_.get());
        produced = 4;
        pending_ = false;
        ++data;
        --count;
        piece = std::min(count, kPiece);
      }
      const std::size_t whole = piece & ~std::size_t{1};
      DecodeSdx2Frames(stereo_, data, whole / 2, samples_.get() + produced);
      produced += whole * kSampleBytes;
      if (whole < piece && whole + 1 == count) {
        pending_ = true;
        pendingByte_ = data[whole];
        piece = count;
      } else {
        piece = whole;
      }
    } else {
      DecodeSdx2Mono(mono_, data, piece, samples_.get());
      produced = piece * kSampleBytes;
    }
    if (produced > 0) Put(samples_.get(), produced);
    data += piece;
    count -= piece;
  }
}

void SoundOutput::FinishWav() {
  // A lone byte left at the end of a stereo stream is no frame, as in the
  // window's conversion.
  if (wav_.IsOpen()) {
    try {
      unsigned char header[kWavHeaderSize];
      WriteWavHeader(header, rate_, ChannelsOf(coding_), static_cast<std::uint32_t>(sampleBytes_));
      wav_.Seek(0);
      wav_.Write(header, kWavHeaderSize);
      wav_.Close();
      const int channels = ChannelsOf(coding_);
      sink_.SoundDone(SoundFacts{wavPath_, rate_, channels,
                                 static_cast<std::int64_t>(sampleBytes_ / (kSampleBytes * channels))});
      sink_.Wrote(wavPath_);
    } catch (const CommandError& error) {
      Fail(wav_, wavPath_, ErrorCause(error));
    }
  }
}

bool SoundOutput::Finish() {
  FinishWav();
  if (raw_.IsOpen()) {
    try {
      raw_.Close();
      sink_.Wrote(rawPath_);
    } catch (const CommandError& error) {
      Fail(raw_, rawPath_, ErrorCause(error));
    }
  }
  return !failed_;
}

}  // namespace morvane
