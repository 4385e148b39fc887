#include "demux/film_routes.h"

#include <algorithm>

#include "analysis/chunk_layout.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/support.h"

namespace morvane {

namespace {

// Frames up to this size are read whole, so that their strips can be looked
// into; larger ones go through in pieces of it.
constexpr std::size_t kFramePiece = 1024 * 1024;

// FNV-1a, 64 bits: the movies' identifiers come from the stream's name and
// the film's number, so that the same stream always gives the same bytes.
std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

std::string Offset(std::int64_t offset) { return std::to_string(offset); }

}  // namespace

FilmRoutes::FilmRoutes(ByteFile& input, const std::string& path, const std::string& outputBase,
                       ConvertSink& sink, bool posters)
    : input_(input),
      path_(path),
      outputBase_(outputBase),
      posters_(posters),
      baseName_(platform::Utf8FromPath(platform::PathFromUtf8(path).filename())),
      sink_(sink),
      size_(input.Size()) {}

FilmRoutes::~FilmRoutes() = default;

bool FilmRoutes::FilmChunk(std::int64_t start, const unsigned char* head, std::int32_t chunkSize) {
  const auto word = static_cast<std::uint32_t>(ReadBigEndian32(head + kFilmChannelOffset));
  const auto channel = static_cast<std::uint16_t>(word & kChannelMask);
  const unsigned char* subType = head + kFilmSubTypeOffset;
  if (IsId(subType, "FHDR")) {
    if (chunkSize < kFhdrEnd) {
      sink_.Tell(path_, "the film header at offset " + Offset(start) + " has size " + DecimalText(chunkSize) +
                            ", less than its fields; skipped");
      whole_ = false;
      return true;
    }
    if (size_ - start < kFhdrEnd) return false;
    TimeMet(ReadBigEndian32(head + kFilmTimeOffset));
    Header(start, channel);
    return true;
  }
  if (IsId(subType, "FRME") || IsId(subType, "DFRM")) {
    if (!Frame(start, head, channel, chunkSize)) return false;
    TimeMet(ReadBigEndian32(head + kFilmTimeOffset));
  }
  return true;
}

void FilmRoutes::Header(std::int64_t start, std::uint16_t channel) {
  unsigned char fields[kFhdrEnd - kFhdrVersionOffset];
  input_.Seek(start + kFhdrVersionOffset);
  input_.Read(fields, sizeof fields);
  const auto at = [&fields](std::int64_t offset) { return fields + (offset - kFhdrVersionOffset); };
  FilmHeader header;
  std::copy(at(kFhdrCompressionOffset), at(kFhdrCompressionOffset) + 4, header.compression);
  header.height = ReadBigEndian32(at(kFhdrHeightOffset));
  header.width = ReadBigEndian32(at(kFhdrWidthOffset));
  header.frameCount = std::max(ReadBigEndian32(at(kFhdrFrameCountOffset)), 0);
  const std::size_t number = headers_++;
  // A new header of a channel ends the channel's present film.
  End(channel);
  if (live_.size() >= kMostLiveFilms) {
    sink_.Tell(path_, "film channel " + std::to_string(channel) + ": more than " +
                          std::to_string(kMostLiveFilms) + " films at once; its film " +
                          std::to_string(number) + " is skipped");
    whole_ = false;
    skipped_.insert(channel);
    return;
  }
  if (only_ && number != *only_) {
    skipped_.insert(channel);
    return;
  }
  const std::uint64_t seed = Fnv1a(baseName_ + '\0' + std::to_string(number));
  auto& film = live_[channel] = std::make_unique<FilmOutput>(
      number, header, only_ ? std::string() : outputBase_ + std::to_string(number) + kMovieSuffix, seed,
      sink_, posters_ && !only_ ? outputBase_ + std::to_string(number) + kPosterSuffix : "");
  if (webm_) {
    film->ShareAsWebm(
        std::make_unique<FilmWebm>(outputBase_ + std::to_string(number) + kWebMovieSuffix,
                                   Fnv1a(baseName_ + '\0' + std::to_string(number) + kWebMovieSuffix),
                                   header.compression, header.width, header.height, allTracks_, sink_));
  }
}

bool FilmRoutes::Frame(std::int64_t start, const unsigned char* head, std::uint16_t channel,
                       std::int32_t chunkSize) {
  if (chunkSize < kFrameDataOffset) {
    sink_.Tell(path_, "the frame at offset " + Offset(start) + " has size " + DecimalText(chunkSize) +
                          ", less than its fields; skipped");
    whole_ = false;
    return true;
  }
  if (size_ - start < kFrameDataOffset) return false;
  const std::int32_t time = ReadBigEndian32(head + kFilmTimeOffset);
  if (skipped_.count(channel) != 0) return true;
  const auto live = live_.find(channel);
  if (live == live_.end()) {
    ++strays_[channel];
    return true;
  }
  FilmOutput* film = live->second.get();
  unsigned char fields[kFrameDataOffset - kFrameDurationOffset];
  input_.Seek(start + kFrameDurationOffset);
  input_.Read(fields, sizeof fields);
  const std::int32_t duration = ReadBigEndian32(fields);
  const std::int32_t frameSize = ReadBigEndian32(fields + 4);
  if (frameSize < 0 || frameSize > chunkSize - kFrameDataOffset) {
    sink_.Tell(path_, "the frame at offset " + Offset(start) + " gives the size " + DecimalText(frameSize) +
                          ", more than its chunk holds; skipped");
    whole_ = false;
    return true;
  }
  if (start + kFrameDataOffset + frameSize > size_) {
    film->CutShort();
    return false;
  }
  const bool difference = IsId(head + kFilmSubTypeOffset, "DFRM");
  const bool flagged = (ReadBigEndian32(head + kFilmChannelOffset) & kKeyChunkFlag) != 0;
  if (!frame_) frame_.reset(new unsigned char[kFramePiece]);
  const auto size = static_cast<std::size_t>(frameSize);
  if (size <= kFramePiece) {
    input_.Read(frame_.get(), size);
    film->BeginFrame(time, duration, film->IsKey(difference, flagged, frame_.get(), size), size);
    film->FrameBytes(frame_.get(), size);
  } else {
    film->BeginFrame(time, duration, film->IsKey(difference, flagged, nullptr, size), size);
    for (std::size_t done = 0; done < size;) {
      const std::size_t piece = std::min(size - done, kFramePiece);
      input_.Read(frame_.get(), piece);
      film->FrameBytes(frame_.get(), piece);
      done += piece;
    }
  }
  return true;
}

void FilmRoutes::End(std::uint16_t channel) {
  skipped_.erase(channel);
  const auto live = live_.find(channel);
  if (live == live_.end()) return;
  if (!live->second->Finish()) whole_ = false;
  live_.erase(live);
}

void FilmRoutes::TimeMet(std::int32_t time) {
  std::vector<std::uint16_t> ended;
  for (const auto& [channel, film] : live_) {
    if (film->EndedBy(time)) ended.push_back(channel);
  }
  for (const std::uint16_t channel : ended) End(channel);
}

void FilmRoutes::SoundBegins(SoundOutput& output, std::size_t number, std::int32_t time, std::int64_t bytes) {
  takers_.clear();
  const TrackSound sound{number, output.Codec(), output.Rate(), output.Channels()};
  const std::int64_t frames = output.FramesFor(bytes);
  for (auto& [channel, film] : live_) {
    if (film->SoundBegins(sound, time, frames)) takers_.push_back(film.get());
  }
  if (takers_.empty()) return;
  output.SetPcmTaker([this](const unsigned char* pcm, std::size_t count) {
    for (FilmOutput* film : takers_) film->SoundPcm(pcm, count);
  });
}

void FilmRoutes::SoundEnds(SoundOutput& output) {
  if (takers_.empty()) return;
  output.SetPcmTaker(nullptr);
  for (FilmOutput* film : takers_) film->SoundEnds();
  takers_.clear();
}

void FilmRoutes::Finish(bool cut) {
  // A chunk whose copy failed leaves nothing to take its samples.
  takers_.clear();
  // Films in the order of their numbers.
  std::vector<std::pair<std::size_t, std::uint16_t>> order;
  for (const auto& [channel, film] : live_) {
    if (cut) film->CutShort();
    order.emplace_back(film->Number(), channel);
  }
  std::sort(order.begin(), order.end());
  for (const auto& [number, channel] : order) End(channel);
  live_.clear();
  skipped_.clear();
  for (const auto& [channel, count] : strays_) {
    sink_.Tell(path_,
               "film channel " + std::to_string(channel) + ": " + std::to_string(count) +
                   " frame(s) outside any film (before its first header, or past the frames its film's "
                   "header counts); skipped");
    whole_ = false;
  }
}

}  // namespace morvane
