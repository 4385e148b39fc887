#include "demux/sound_output.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "audio/wav_header.h"
#include "core/errors.h"

namespace morvane {

namespace {

constexpr std::size_t kPiece = 32 * 1024;  // input bytes decoded at a time
// The longest unit of any codec: two bytes of each of two channels.
constexpr std::size_t kMostUnitBytes = 4;
// The WAV's sizes are 32-bit: the RIFF size counts 36 bytes of header and
// a pad byte too.
constexpr std::uint64_t kMostSampleBytes =
    std::numeric_limits<std::uint32_t>::max() - (kWavHeaderSize - 8) - 1;

}  // namespace

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

SoundOutput::SoundOutput(const SoundCodec* codec, const SoundFormat& format, std::string rawPath,
                         std::string wavPath, ConvertSink& sink)
    : codec_(codec),
      rate_(format.rate),
      channels_(codec ? format.channels : 0),
      rawPath_(std::move(rawPath)),
      wavPath_(std::move(wavPath)),
      sink_(sink) {
  if (!codec_) wavPath_.clear();
  if (codec_) {
    decoder_ = codec_->makeDecoder(channels_);
    // A piece, and the unit begun in the piece before it.
    samples_.reset(new unsigned char[decoder_->SampleBytesFor(kPiece + 16)]);
  }
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
      WriteWavHeader(header, rate_, static_cast<std::uint16_t>(channels_), 0,
                     static_cast<std::uint16_t>(codec_->wavBits));
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

void SoundOutput::WriteBehind() {
  if (raw_.IsOpen()) raw_.UseWriteBehind();
  if (wav_.IsOpen()) wav_.UseWriteBehind();
}

std::int64_t SoundOutput::FramesFor(std::int64_t count) const {
  return decoder_ ? decoder_->FramesFor(count) : 0;
}

void SoundOutput::Put(const unsigned char* pcm, std::size_t bytes) {
  // The movies take every sample whatever becomes of the WAV.
  if (pcmTaker_) pcmTaker_(pcm, bytes);
  if (!wav_.IsOpen()) return;
  const bool narrow = codec_->wavBits == 8;
  std::size_t wavBytes = narrow ? bytes / 2 : bytes;
  // The whole frames that still fit: the WAV holds as much as it can
  // whatever the size of the pieces.
  const bool tooLong = sampleBytes_ + wavBytes > kMostSampleBytes;
  if (tooLong) {
    const std::size_t frameBytes = static_cast<std::size_t>(codec_->wavBits / 8 * channels_);
    wavBytes = static_cast<std::size_t>(kMostSampleBytes - sampleBytes_) / frameBytes * frameBytes;
    bytes = narrow ? wavBytes * 2 : wavBytes;
  }
  try {
    if (wavBytes > 0) {
      if (narrow) {
        if (narrow_.size() < wavBytes) narrow_.resize(wavBytes);
        NarrowTo8Bit(pcm, wavBytes, narrow_.data());
        wav_.Write(narrow_.data(), wavBytes);
      } else {
        wav_.Write(pcm, bytes);
      }
      sink_.Decoded(wavPath_, pcm, bytes, channels_);
      sampleBytes_ += wavBytes;
    }
  } catch (const CommandError& error) {
    Fail(wav_, wavPath_, ErrorCause(error));
    return;
  }
  if (tooLong) {
    // What was decoded before stays a playable file.
    sink_.Tell(wavPath_, "too long for a WAV file; converted as far as a WAV file can hold");
    failed_ = true;
    FinishWav();
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
  if (!decoder_) return;
  while (count > 0) {
    const std::size_t piece = std::min(count, kPiece);
    const std::size_t produced = decoder_->Decode(data, piece, samples_.get());
    if (produced > 0) Put(samples_.get(), produced);
    data += piece;
    count -= piece;
  }
}

std::size_t SoundOutput::JobBytes() const {
  if (!codec_) return kWriteBufferSize;
  // A unit's worth more: the bytes of a unit begun in the job wait for the
  // next one.
  const std::size_t wavBytesPerChannelByte =
      static_cast<std::size_t>(codec_->channelSamples) * static_cast<std::size_t>(codec_->wavBits / 8);
  return kWriteBufferSize * static_cast<std::size_t>(codec_->channelBytes) / wavBytesPerChannelByte +
         kMostUnitBytes;
}

void SoundOutput::Decode(SoundJob& job) {
  job.sampleBytes = 0;
  if (!decoder_) return;
  const std::size_t room = decoder_->SampleBytesFor(job.dataBytes);
  if (job.samplesRoom < room) {
    job.samples.reset(new unsigned char[room]);
    job.samplesRoom = room;
  }
  job.sampleBytes = decoder_->Decode(job.data.get(), job.dataBytes, job.samples.get());
}

void SoundOutput::Write(const SoundJob& job) {
  if (raw_.IsOpen()) {
    try {
      raw_.Write(job.data.get(), job.dataBytes);
    } catch (const CommandError& error) {
      Fail(raw_, rawPath_, ErrorCause(error));
    }
  }
  if (job.sampleBytes > 0) Put(job.samples.get(), job.sampleBytes);
}

void SoundOutput::FinishWav() {
  // A lone byte left at the end of a stereo stream is no frame, as in the
  // window's conversion.
  if (wav_.IsOpen()) {
    try {
      const auto bits = static_cast<std::uint16_t>(codec_->wavBits);
      // An odd number of 8-bit samples takes a pad byte after them.
      if ((sampleBytes_ & 1) != 0) {
        const unsigned char pad = 0;
        wav_.Write(&pad, 1);
      }
      unsigned char header[kWavHeaderSize];
      WriteWavHeader(header, rate_, static_cast<std::uint16_t>(channels_),
                     static_cast<std::uint32_t>(sampleBytes_), bits);
      wav_.Seek(0);
      wav_.Write(header, kWavHeaderSize);
      wav_.Close();
      sink_.SoundDone(SoundFacts{
          wavPath_, rate_, channels_,
          static_cast<std::int64_t>(sampleBytes_ / (static_cast<std::uint64_t>(bits / 8) * channels_))});
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
