#include "demux/film_output.h"

#include <algorithm>
#include <cstring>

#include "analysis/chunk_layout.h"
#include "core/errors.h"
#include "core/support.h"
#include "video/film_codec.h"

namespace morvane {

namespace {

constexpr int kPictureTrack = 1;
// Sound held back before the first frame, at most, for each film.
constexpr std::size_t kMostHeld = 512 * 1024;

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The samples at `rate` that fit before `ticks` has passed, rounded up: the
// first sample at or after it.
std::int64_t SamplesWithin(std::int64_t ticks, std::int64_t rate) {
  const std::int64_t whole = ticks * (rate / kTicksPerSecond);
  const std::int64_t part = ticks * (rate % kTicksPerSecond);
  return whole + (part + kTicksPerSecond - 1) / kTicksPerSecond;
}

// The end of `frames` samples at `rate` from `time`, in ticks rounded up.
std::int64_t EndTicks(std::int64_t time, std::int64_t frames, std::int64_t rate) {
  return time + (frames * kTicksPerSecond + rate - 1) / rate;
}

}  // namespace

std::int64_t MovieMs(std::int64_t ticks, std::int64_t samples, std::int64_t rate) {
  // ticks × 1000/240 = ticks × 25/6, and samples × 1000/rate, each split
  // into whole milliseconds and a remainder, so that nothing overflows.
  const std::int64_t sixths = ticks * 25;
  const std::int64_t q1 = FloorDivide(sixths, 6), r1 = sixths - 6 * q1;
  const std::int64_t thousandths = samples * 1000;
  const std::int64_t q2 = thousandths / rate, r2 = thousandths % rate;
  const std::int64_t remainder = r1 * rate + 6 * r2;  // over 6 × rate
  return q1 + q2 + (2 * remainder + 6 * rate) / (12 * rate);
}

FilmOutput::FilmOutput(std::size_t number, const FilmHeader& header, const std::string& path,
                       std::uint64_t seed, ConvertSink& sink, const std::string& posterPath)
    : number_(number), header_(header), codec_(FindFilmCodec(header.compression)), path_(path), sink_(sink) {
  if (!posterPath.empty() && codec_ != nullptr && codec_->makeDecoder != nullptr)
    poster_ = std::make_unique<FilmPoster>(*codec_, header.width, header.height, posterPath, sink);
  PosterDone();
  MovieVideo video;
  video.width = static_cast<std::uint32_t>(std::max(header.width, 1));
  video.height = static_cast<std::uint32_t>(std::max(header.height, 1));
  FilmTrackCodec codec = MovieTrackCodec(header.compression, video.width, video.height);
  video.codecId = std::move(codec.codecId);
  video.codecPrivate = std::move(codec.codecPrivate);
  // No path: the film is only shared (ShareAsWebm), with no movie of its own.
  if (path.empty()) return;
  try {
    writer_ = std::make_unique<MatroskaWriter>(path, seed, video);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return;
  }
  if (codec_ == nullptr) {
    std::string known;
    for (const FilmCodec& each : FilmCodecs())
      known += (known.empty() ? "" : " or ") + std::string(each.name);
    sink_.Tell(path_, "compression type '" + IdText(header.compression) + "' is not " + known +
                          ": its frames are copied as they are, and no common player may know them");
    notWhole_ = true;
  }
  if (header.width <= 0 || header.height <= 0) {
    sink_.Tell(path_, "the film header gives the picture size " + DecimalText(header.width) + "x" +
                          DecimalText(header.height) + "; the movie says " + std::to_string(video.width) +
                          "x" + std::to_string(video.height));
    notWhole_ = true;
  }
}

FilmOutput::~FilmOutput() = default;

void FilmOutput::ShareAsWebm(std::unique_ptr<FilmWebm> webm) {
  if (writer_ || path_.empty()) {
    webm_ = std::move(webm);
  } else {
    sink_.Tell(webm->Path(), "its film's movie could not be written; no WebM written");
  }
}

void FilmOutput::Failed(const std::string& cause) {
  if (writer_) writer_->Discard();
  writer_.reset();
  failed_ = true;
  sink_.Tell(path_, cause);
  if (webm_) sink_.Tell(webm_->Path(), "its film's movie could not be written; no WebM written");
  webm_.reset();
}

bool FilmOutput::IsKey(bool difference, bool flagged, const unsigned char* bytes, std::size_t size) {
  if (difference) usesDifference_ = true;
  if (flagged) return true;
  if (difference) return false;
  // Until a "DFRM" shows that the film has difference frames, the frames
  // themselves tell.
  if (usesDifference_ || frames_ == 0) return true;
  return codec_ != nullptr && bytes != nullptr && codec_->isKeyFrame(bytes, size);
}

void FilmOutput::PosterDone() {
  if (!poster_ || !poster_->Done()) return;
  posterWhole_ = poster_->Whole();
  poster_.reset();
}

void FilmOutput::BeginFrame(std::int32_t time, std::int32_t duration, bool key, std::size_t size) {
  if (poster_) {
    poster_->BeginFrame(key, size);
    PosterDone();
  }
  if (!started_) {
    started_ = true;
    firstTime_ = time;
    ReleaseHeld();
  }
  ++frames_;
  if (frameDuration_ < 0) frameDuration_ = duration;
  durationsAlike_ = durationsAlike_ && duration == frameDuration_;
  const std::int64_t from = std::int64_t{time} - firstTime_;
  const std::int64_t lasting = std::max(duration, 0);
  lastEnd_ = frames_ == 1 ? std::int64_t{time} + lasting : std::max(lastEnd_, std::int64_t{time} + lasting);
  endMs_ = std::max(endMs_, MovieMs(from + lasting, 0, 1));
  if (!Live()) return;
  // A frame stored before the first one is shown at the film's start.
  const std::int64_t ms = std::max<std::int64_t>(MovieMs(from, 0, 1), 0);
  try {
    if (writer_)
      sink_.MovieBlock(path_, kPictureTrack, ms, key, writer_->BeginBlock(kPictureTrack, ms, key, size),
                       size);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return;
  }
  if (webm_) webm_->BeginFrame(ms, std::max<std::int64_t>(MovieMs(from + lasting, 0, 1), 0) - ms, size);
}

void FilmOutput::FrameBytes(const unsigned char* bytes, std::size_t count) {
  if (poster_) {
    poster_->FrameBytes(bytes, count);
    PosterDone();
  }
  if (!Live()) return;
  try {
    if (writer_) writer_->BlockBytes(bytes, count);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return;
  }
  if (webm_) webm_->FrameBytes(bytes, count);
}

bool FilmOutput::EndedBy(std::int32_t time) const {
  return header_.frameCount > 0 && frames_ >= header_.frameCount && time >= lastEnd_;
}

bool FilmOutput::SoundBegins(const TrackSound& sound, std::int32_t time, std::int64_t frames) {
  if (!Live()) return false;
  if (sound.codec == nullptr) {
    Track& track = tracks_[sound.number];
    if (!track.told) {
      sink_.Tell(path_, "sound " + std::to_string(sound.number) +
                            " is kept undecoded; the movie holds no track of it");
      track.told = true;
    }
    return false;
  }
  if (frames <= 0) return false;
  if (started_) return Route(sound, time, frames);
  // Before the first frame nobody knows where the film starts: the chunk
  // waits, and the oldest chunks waiting give way to it when there is no
  // room.
  const auto bytes = static_cast<std::size_t>(frames) * 2 * static_cast<std::size_t>(sound.channels);
  if (bytes > kMostHeld) {
    droppedEnd_ = std::max(droppedEnd_, EndTicks(time, frames, sound.rate));
    heldDropped_ = true;
    return false;
  }
  while (heldBytes_ + bytes > kMostHeld) {
    const Held& oldest = held_.front();
    droppedEnd_ = std::max(droppedEnd_, EndTicks(oldest.time, oldest.frames, oldest.sound.rate));
    heldDropped_ = true;
    heldBytes_ -=
        static_cast<std::size_t>(oldest.frames) * 2 * static_cast<std::size_t>(oldest.sound.channels);
    held_.erase(held_.begin());
  }
  held_.push_back({sound, time, frames, {}});
  held_.back().pcm.reserve(bytes);
  heldBytes_ += bytes;
  holding_ = true;
  return true;
}

bool FilmOutput::Route(const TrackSound& sound, std::int32_t time, std::int64_t frames) {
  if (EndedBy(time)) return false;
  auto found = tracks_.find(sound.number);
  if (found == tracks_.end()) {
    Track track;
    track.sound = sound;
    track.firstTime = time;
    if (time < firstTime_) {
      track.skip = SamplesWithin(std::int64_t{firstTime_} - time, sound.rate);
      // It ends before the film begins.
      if (track.skip >= frames) return false;
    }
    track.number = writer_ ? writer_->AddSound(MovieSound{sound.rate, sound.channels}, sound.number)
                           : kPictureTrack + 1 + static_cast<int>(tracks_.size());
    if (writer_ && track.number != 0)
      sink_.MovieTrack(path_, track.number, sound.number, sound.rate, sound.channels);
    if (track.number == 0) {
      sink_.Tell(path_, "sound " + std::to_string(sound.number) + ": more than " +
                            std::to_string(MatroskaWriter::kMostSoundTracks) +
                            " sound tracks in one movie; left out of it");
      notWhole_ = true;
    }
    found = tracks_.emplace(sound.number, track).first;
  }
  if (found->second.number == 0) return false;
  current_ = &found->second;
  return true;
}

void FilmOutput::PutSound(const unsigned char* pcm, std::size_t bytes) {
  Track& track = *current_;
  const std::size_t frameBytes = 2 * static_cast<std::size_t>(track.sound.channels);
  const auto left = static_cast<std::int64_t>(bytes / frameBytes);
  const std::int64_t dropped = std::min(track.skip, left);
  track.skip -= dropped;
  track.samples += dropped;
  pcm += static_cast<std::size_t>(dropped) * frameBytes;
  bytes -= static_cast<std::size_t>(dropped) * frameBytes;
  if (bytes == 0 || !Live()) return;
  const std::int64_t from = std::int64_t{track.firstTime} - firstTime_;
  const std::int64_t ms = std::max<std::int64_t>(MovieMs(from, track.samples, track.sound.rate), 0);
  try {
    if (writer_)
      sink_.MovieBlock(path_, track.number, ms, true, writer_->Block(track.number, ms, true, pcm, bytes),
                       bytes);
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return;
  }
  if (webm_) webm_->Sound(track.sound.number, track.sound.rate, track.sound.channels, ms, pcm, bytes);
  track.samples += static_cast<std::int64_t>(bytes / frameBytes);
  endMs_ = std::max(endMs_, MovieMs(from, track.samples, track.sound.rate));
}

void FilmOutput::SoundPcm(const unsigned char* pcm, std::size_t bytes) {
  if (holding_) {
    Held& held = held_.back();
    const std::size_t room =
        static_cast<std::size_t>(held.frames) * 2 * static_cast<std::size_t>(held.sound.channels) -
        held.pcm.size();
    held.pcm.insert(held.pcm.end(), pcm, pcm + std::min(bytes, room));
  } else if (current_) {
    PutSound(pcm, bytes);
  }
}

void FilmOutput::SoundEnds() {
  holding_ = false;
  current_ = nullptr;
}

void FilmOutput::ReleaseHeld() {
  for (const Held& held : held_) {
    if (Live() && Route(held.sound, held.time, held.frames)) PutSound(held.pcm.data(), held.pcm.size());
    current_ = nullptr;
  }
  held_.clear();
  held_.shrink_to_fit();
  heldBytes_ = 0;
  if (heldDropped_ && droppedEnd_ > firstTime_) {
    sink_.Tell(path_, "more than " + std::to_string(kMostHeld) +
                          " bytes of sound came before the film's first frame; the movie's sound begins "
                          "later than the sound itself");
    notWhole_ = true;
  }
}

bool FilmOutput::Finish() {
  if (poster_ && frames_ > 0) {
    poster_->FilmEnds();
    PosterDone();
  }
  if (!Live()) return false;
  if (frames_ == 0) {
    if (!writer_) {
      sink_.Tell(webm_->Path(), "the film has no frame; no WebM written");
      webm_.reset();
      return false;
    }
    writer_->Discard();
    writer_.reset();
    webm_.reset();
    sink_.Tell(path_, "the film has no frame; no movie written");
    return false;
  }
  const std::uint64_t frameNs =
      durationsAlike_ && frameDuration_ > 0
          ? (std::uint64_t(frameDuration_) * 1000000000 + kTicksPerSecond / 2) / kTicksPerSecond
          : 0;
  if (!writer_) {
    // Only shared: its WebM is all there is.
    const bool shared = webm_->Finish(MovieEnd{endMs_, frameNs});
    webm_.reset();
    return shared;
  }
  try {
    writer_->Finish(MovieEnd{endMs_, frameNs});
  } catch (const CommandError& error) {
    Failed(ErrorCause(error));
    return false;
  }
  writer_.reset();
  bool whole = !notWhole_ && posterWhole_;
  const std::string count = std::to_string(frames_);
  if (header_.frameCount > 0 && frames_ < header_.frameCount) {
    sink_.Tell(path_, std::string(cut_ ? "cut short: the file ends" : "the stream ends the film") +
                          " after " + count + " of the " + DecimalText(header_.frameCount) +
                          " frames its header counts; the movie holds them");
    whole = false;
  } else if (cut_) {
    sink_.Tell(path_,
               "cut short: the file ends inside the film; the movie holds its " + count + " whole frames");
    whole = false;
  }
  MovieFacts facts;
  facts.path = path_;
  std::memcpy(facts.codec, header_.compression, 4);
  facts.width = header_.width;
  facts.height = header_.height;
  facts.frames = frames_;
  facts.durationMs = endMs_;
  for (const auto& [number, track] : tracks_) facts.soundTracks += track.number != 0 ? 1 : 0;
  sink_.MovieDone(facts);
  sink_.Wrote(path_);
  if (webm_ && !webm_->Finish(MovieEnd{endMs_, frameNs})) whole = false;
  webm_.reset();
  return whole;
}

}  // namespace morvane
