#include "demux/film_webm.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "core/errors.h"
#include "core/support.h"
#include "video/film_codec.h"

namespace morvane {

namespace {

constexpr int kPictureTrack = 1;
// Packets wait this long for those of other tracks that come later but play
// earlier, so that the blocks go out in the order of their times.
constexpr std::int64_t kInterleaveMs = 1000;
// A frame larger than this is not decoded (no Cinepak frame of a film's
// size comes near it).
constexpr std::size_t kLargestFrame = 64 * 1024 * 1024;
constexpr std::uint64_t kOpusSeekPreRollNs = 80000000;

// The WebM's entry of an Opus track.
MovieSound TrackOf(const SoundEncoder& encoder) {
  MovieSound sound(encoder.Rate(), encoder.Channels());
  sound.opusHead = encoder.Head();
  sound.codecDelayNs = (static_cast<std::uint64_t>(encoder.PreSkip()) * 1000000000 + 24000) / 48000;
  sound.seekPreRollNs = kOpusSeekPreRollNs;
  return sound;
}

}  // namespace

FilmWebm::FilmWebm(const std::string& path, std::uint64_t seed, const unsigned char compression[4],
                   std::int32_t width, std::int32_t height, bool allTracks, ConvertSink& sink)
    : path_(path), sink_(sink), allTracks_(allTracks) {
  const FilmCodec* codec = FindFilmCodec(compression);
  if (codec == nullptr || codec->makeDecoder == nullptr) {
    std::string decoded;
    for (const FilmCodec& each : FilmCodecs()) {
      if (each.makeDecoder != nullptr) decoded += (decoded.empty() ? "" : " or ") + std::string(each.name);
    }
    Failed("compression type '" + IdText(compression) + "' is not " + decoded + "; no WebM written");
    return;
  }
  if (width <= 0 || height <= 0) {
    Failed("the film header gives the picture size " + DecimalText(width) + "x" + DecimalText(height) +
           "; no WebM written");
    return;
  }
  std::string failure;
  pictures_ = MakePictureEncoder(width, height, EncoderSettings{}, failure);
  if (!pictures_) {
    Failed(failure + "; no WebM written");
    return;
  }
  try {
    decoder_ = codec->makeDecoder(width, height);
  } catch (const std::invalid_argument&) {
    Failed("the picture size " + DecimalText(width) + "x" + DecimalText(height) +
           " is larger than the decoder takes; no WebM written");
    return;
  }
  MovieVideo video;
  video.codecId = kVp9CodecId;
  video.width = static_cast<std::uint32_t>(width);
  video.height = static_cast<std::uint32_t>(height);
  try {
    writer_ = std::make_unique<MatroskaWriter>(path, seed, video, MovieKind::kWebm);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
  }
}

FilmWebm::~FilmWebm() = default;

void FilmWebm::Failed(const std::string& cause) {
  if (writer_) writer_->Discard();
  writer_.reset();
  pictures_.reset();
  decoder_.reset();
  tracks_.clear();
  queue_.clear();
  frame_ = {};
  if (!failed_) sink_.Tell(path_, cause);
  failed_ = true;
}

void FilmWebm::BeginFrame(std::int64_t ms, std::int64_t durationMs, std::size_t size) {
  if (failed_) return;
  frameMs_ = ms;
  frameDurationMs_ = durationMs;
  frameSize_ = frameTotal_ = size;
  frame_.clear();
  if (size <= kLargestFrame) frame_.reserve(size);
  if (size == 0) FrameBytes(nullptr, 0);
}

void FilmWebm::FrameBytes(const unsigned char* bytes, std::size_t count) {
  if (failed_) return;
  if (frameTotal_ <= kLargestFrame && count > 0) frame_.insert(frame_.end(), bytes, bytes + count);
  frameSize_ -= std::min(count, frameSize_);
  if (frameSize_ > 0) return;
  // The whole frame is there: onto the picture, which then goes to VP9
  // (a frame too large to hold keeps the picture as it was).
  ++frames_;
  const std::string problem = frame_.size() < frameTotal_
                                  ? "frame " + std::to_string(frames_) + ": too large to decode"
                                  : decoder_->Decode(frame_.data(), frame_.size());
  if (!problem.empty() && badFrames_++ == 0)
    sink_.Tell(path_, problem + "; the WebM shows what could be decoded");
  std::vector<EncodedPacket> packets;
  const std::string failure = pictures_->Encode(decoder_->Rgb().data(), frameMs_, frameDurationMs_, packets);
  if (!failure.empty()) return Failed(failure + "; no WebM written");
  Queue(kPictureTrack, packets, 0);
}

void FilmWebm::Sound(std::size_t number, std::int32_t rate, int channels, std::int64_t ms,
                     const unsigned char* pcm, std::size_t bytes) {
  if (failed_) return;
  auto found = tracks_.find(number);
  if (found == tracks_.end()) {
    Track track;
    track.startMs = ms;
    if (allTracks_ || tracks_.empty()) {
      std::string failure;
      track.encoder = MakeSoundEncoder(rate, channels, EncoderSettings{}, failure);
      if (!track.encoder)
        return Failed("sound " + std::to_string(number) + ": " + failure + "; no WebM written");
      track.number = writer_->AddSound(TrackOf(*track.encoder), number);
    }
    found = tracks_.emplace(number, std::move(track)).first;
  }
  Track& track = found->second;
  if (track.number == 0) return;
  std::vector<EncodedPacket> packets;
  const std::string failure = track.encoder->Encode(pcm, bytes, packets);
  if (!failure.empty())
    return Failed("sound " + std::to_string(number) + ": " + failure + "; no WebM written");
  Queue(track.number, packets, track.startMs);
}

void FilmWebm::Queue(int track, std::vector<EncodedPacket>& packets, std::int64_t offsetMs) {
  for (EncodedPacket& packet : packets) {
    packet.ms += offsetMs;
    newestMs_ = std::max(newestMs_, packet.ms);
    const std::int64_t ms = packet.ms;
    queue_.emplace(ms, Pending{track, std::move(packet)});
  }
  WriteUpTo(newestMs_ - kInterleaveMs);
}

void FilmWebm::WriteUpTo(std::int64_t ms) {
  while (!failed_ && !queue_.empty() && queue_.begin()->first <= ms) {
    const Pending& pending = queue_.begin()->second;
    try {
      writer_->Block(pending.track, pending.packet.ms, pending.packet.key, pending.packet.bytes.data(),
                     pending.packet.bytes.size());
    } catch (const CommandError& error) {
      return Failed(ErrorCause(error));
    }
    queue_.erase(queue_.begin());
  }
}

bool FilmWebm::Finish(const MovieEnd& end) {
  if (failed_) return false;
  std::vector<EncodedPacket> packets;
  std::string failure = pictures_->Finish(packets);
  if (!failure.empty()) {
    Failed(failure + "; no WebM written");
    return false;
  }
  Queue(kPictureTrack, packets, 0);
  for (auto& [number, track] : tracks_) {
    if (track.number == 0 || failed_) continue;
    packets.clear();
    failure = track.encoder->Finish(packets);
    if (!failure.empty()) {
      Failed("sound " + std::to_string(number) + ": " + failure + "; no WebM written");
      return false;
    }
    Queue(track.number, packets, track.startMs);
    // The head as the encoder tells it at its end (the browser's tells it
    // only with its first packet).
    writer_->UpdateSound(track.number, TrackOf(*track.encoder));
  }
  WriteUpTo(std::numeric_limits<std::int64_t>::max());
  if (failed_) return false;
  if (badFrames_ > 1)
    sink_.Tell(path_, std::to_string(badFrames_) +
                          " frames could not be decoded whole; the WebM shows what could be");
  try {
    writer_->Finish(end);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return false;
  }
  writer_.reset();
  sink_.Wrote(path_);
  return badFrames_ == 0;
}

}  // namespace morvane
