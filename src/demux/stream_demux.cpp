#include "demux/stream_demux.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/chunk_layout.h"
#include "core/errors.h"
#include "core/support.h"
#include "demux/decode_worker.h"
#include "demux/film_routes.h"
#include "demux/form_demux.h"
#include "demux/sound_start.h"

namespace morvane {

namespace {

// Streams that may be open at once; each holds two file buffers.
constexpr std::size_t kMostLiveStreams = 32;
// Every output file alive is one the end of the program can remove.
// A poster is written while the others are open.
static_assert(2 * kMostLiveStreams + 2 * FilmRoutes::kMostLiveFilms + 1 <= kMostLiveTemporaries);

bool IsPrintable(const unsigned char* id) {
  return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

std::string Offset(std::int64_t offset) { return std::to_string(offset); }

std::uint32_t BigEndianU32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(ReadBigEndian32(bytes));
}

// Data blocks met before any header of their stream.
struct Orphans {
  std::int64_t blocks = 0, bytes = 0;
};

class ChunkStreamDemux {
 public:
  ChunkStreamDemux(ByteFile& input, const std::string& path, const DemuxOptions& options, ConvertSink& sink)
      : input_(input),
        path_(path),
        options_(options),
        sink_(sink),
        size_(input.Size()),
        buffer_(new unsigned char[kReadPiece]),
        worker_(options.secondCore) {
    if (options.movies)
      films_ = std::make_unique<FilmRoutes>(input, path, options.outputBase, sink,
                                            options.posters && !options.shareFilm);
    if (films_ && (options.webm || options.shareFilm))
      films_->ShareAsWebm(options.allTracks, options.shareFilm);
  }

  bool Run() {
    try {
      Walk();
    } catch (const CommandError& error) {
      // The input itself failed: the outputs keep what they have.
      Tell(path_, ErrorCause(error));
      whole_ = false;
      cut_ = true;
    }
    worker_.Drain();
    const bool anyFilm = films_ && films_->AnyFilm();
    if (films_) {
      films_->Finish(cut_);
      if (!films_->Whole()) whole_ = false;
    }
    if (headers_ == 0 && whole_ && orphans_.empty() && !anyFilm) {
      sink_.Tell(path_, "no sound header in the stream; nothing to convert");
      whole_ = false;
    }
    for (auto& [stream, orphans] : orphans_) {
      sink_.Tell(path_, "stream " + DecimalText(stream) + ": " + std::to_string(orphans.blocks) +
                            " data block(s), " + std::to_string(orphans.bytes) +
                            " bytes, before any sound header of the stream; skipped");
      whole_ = false;
    }
    if (cut_) TellSoundsCut();
    for (auto& output : outputs_) {
      if (output && !output->Finish()) whole_ = false;
    }
    return whole_;
  }

 private:
  void Walk() {
    std::int64_t position = 0;
    while (position < size_) {
      sink_.Progress(position, size_);
      unsigned char header[kSsmpDataOffset];
      if (size_ - position < kChunkHeaderSize) {
        Tell(path_, "cut short: the file ends inside a chunk header at offset " + Offset(position));
        whole_ = false;
        cut_ = true;
        return;
      }
      input_.Seek(position);
      input_.Read(header, kChunkHeaderSize);
      const std::int32_t chunkSize = ReadBigEndian32(header + kChunkSizeOffset);
      sink_.ChunkMet(header, position, chunkSize);
      if (chunkSize < kChunkHeaderSize) {
        Tell(path_, "the '" + IdText(header) + "' chunk at offset " + Offset(position) + " has size " +
                        DecimalText(chunkSize) + ", less than its header; the rest of the file is not read");
        whole_ = false;
        cut_ = true;
        return;
      }
      const std::int64_t chunkEnd = position + chunkSize;
      if (IsId(header, "SNDS") && !SoundChunk(position, header)) return;
      if (films_ && IsId(header, "FILM") && chunkSize >= kFilmSubTypeOffset + 4) {
        // A film's frames are written, and its messages told, after the
        // sound before them.
        worker_.Drain();
        if (size_ - position < kFilmSubTypeOffset + 4) return Cut(position, "FILM");
        input_.Read(header + kChunkHeaderSize, kFilmSubTypeOffset + 4 - kChunkHeaderSize);
        NoteTime(ReadBigEndian32(header + kFilmTimeOffset));
        sink_.FilmChunkMet(header + kFilmSubTypeOffset);
        if (!films_->FilmChunk(position, header, chunkSize)) return Cut(position, "FILM");
      }
      if (chunkEnd > size_) {
        Cut(position, IdText(header));
        return;
      }
      position = chunkEnd;
    }
    sink_.Progress(size_, size_);
  }

  // Gives false when the file ends inside the chunk's fields or data.
  bool SoundChunk(std::int64_t start, unsigned char* header) {
    if (size_ - start < kSndsFieldsEnd) return Cut(start, IdText(header)), false;
    input_.Read(header + kChunkHeaderSize, kSndsFieldsEnd - kChunkHeaderSize);
    // The word's high bits are flags: they never split a stream.
    const auto stream = static_cast<std::int32_t>(BigEndianU32(header + kSndsStreamOffset) & kChannelMask);
    const std::int32_t time = ReadBigEndian32(header + kSndsTimeOffset);
    const unsigned char* subId = header + kSndsSubIdOffset;
    TimeMet(time);
    if (IsId(subId, "SHDR")) {
      if (size_ - start < kShdrEnd) {
        Tell(path_, "cut short: the file ends inside the sound header at offset " + Offset(start) +
                        "; stream " + DecimalText(stream) + " gets no output");
        whole_ = false;
        cut_ = true;
        return false;
      }
      unsigned char fields[kShdrEnd - kSndsFieldsEnd];
      input_.Read(fields, sizeof fields);
      SoundHeader(stream, fields);
    } else if (IsId(subId, "SSMP")) {
      if (size_ - start < kSsmpDataOffset) return Cut(start, IdText(header)), false;
      unsigned char lengthBytes[4];
      input_.Read(lengthBytes, 4);
      const std::int32_t length = ReadBigEndian32(lengthBytes);
      return SoundData(start, stream, time, length);
    }
    return true;
  }

  void SoundHeader(std::int32_t stream, const unsigned char* fields) {
    // It may end an output, start one and tell of both.
    worker_.Drain();
    const auto at = [fields](std::int64_t offset) { return fields + (offset - kSndsFieldsEnd); };
    SoundFormat format;
    std::copy(at(kShdrCompressionTypeOffset), at(kShdrCompressionTypeOffset) + 4, format.compression);
    format.channels = ReadBigEndian32(at(kShdrChannelsOffset));
    format.rate = ReadBigEndian32(at(kShdrSampleRateOffset));
    format.sampleSize = ReadBigEndian32(at(kShdrSampleSizeOffset));
    const std::size_t number = headers_++;
    outputs_.resize(headers_);
    lastData_.resize(headers_);
    // A new header of a stream ends the stream's present output.
    if (auto live = live_.find(stream); live != live_.end()) {
      if (live->second != kNoOutput && !outputs_[live->second]->Finish()) whole_ = false;
      if (live->second != kNoOutput) outputs_[live->second].reset();
      live_.erase(live);
    }
    if (live_.size() >= kMostLiveStreams) {
      sink_.Tell(path_, "stream " + DecimalText(stream) + ": more than " + std::to_string(kMostLiveStreams) +
                            " streams at once; its sound " + std::to_string(number) + " is skipped");
      whole_ = false;
      live_[stream] = kNoOutput;
      return;
    }
    outputs_[number] = StartOutput(format, number, options_, sink_, whole_);
    live_[stream] = number;
  }

  bool SoundData(std::int64_t start, std::int32_t stream, std::int32_t time, std::int32_t length) {
    if (length < 0) {
      Tell(path_, "the data block at offset " + Offset(start) + " gives the length " + DecimalText(length) +
                      "; skipped");
      whole_ = false;
      return true;
    }
    const auto live = live_.find(stream);
    SoundOutput* output = nullptr;
    if (live == live_.end()) {
      Orphans& orphans = orphans_[stream];
      ++orphans.blocks;
      orphans.bytes += length;
    } else if (live->second != kNoOutput) {
      output = outputs_[live->second].get();
    }
    if (!output) return start + kSsmpDataOffset + length <= size_ || (Cut(start, "SNDS"), false);
    lastData_[live->second] = time;
    // The movies beside the sound take its samples as they are decoded,
    // on this thread; while no film runs, the worker decodes them.
    const bool filmRuns = films_ && films_->AnyLive();
    if (filmRuns) {
      worker_.Drain();
      films_->SoundBegins(*output, live->second, time,
                          std::clamp<std::int64_t>(size_ - input_.Position(), 0, length));
    }
    const std::int64_t copied =
        CopyData(input_, length, size_, *output, filmRuns ? nullptr : &worker_, buffer_.get());
    if (filmRuns) films_->SoundEnds(*output);
    if (copied < length) {
      Tell(output->Name(), "cut short: the file ends inside its data at offset " + Offset(start) + "; " +
                               std::to_string(length - copied) + " bytes missing, converted up to the cut");
      cutInData_ = live->second;
      whole_ = false;
      cut_ = true;
      return false;
    }
    return true;
  }

  // Sound data within this stream time before the cut: its stream was
  // playing, and the rest of it was in what is missing.
  static constexpr std::int64_t kCutReach = 2 * kTicksPerSecond;

  void NoteTime(std::int32_t time) { latestTime_ = latestTime_ ? std::max(*latestTime_, time) : time; }
  void TimeMet(std::int32_t time) {
    NoteTime(time);
    if (films_ && films_->AnyLive()) {
      // The films it ends are written, and told, after the sound before it.
      worker_.Drain();
      films_->TimeMet(time);
    }
  }

  // Every sound still playing when the file ends early is shorter than its
  // stream meant it, though its own data came whole: it is named, beside the
  // one whose data the cut went through.
  void TellSoundsCut() {
    for (const auto& [stream, number] : live_) {
      if (number == kNoOutput || !outputs_[number] || !lastData_[number] || cutInData_ == number) continue;
      const std::int64_t before = std::int64_t{*latestTime_} - *lastData_[number];
      if (before > kCutReach) continue;
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(before) / kTicksPerSecond);
      sink_.Tell(outputs_[number]->Name(), std::string("cut short with the stream (its last data ") +
                                               seconds + " s of stream time before the cut)");
    }
  }

  // What the walk tells comes after what the sound before it told.
  void Tell(const std::string& name, const std::string& text) {
    worker_.Drain();
    sink_.Tell(name, text);
  }

  void Cut(std::int64_t chunkStart, const std::string& idText) {
    Tell(path_, "cut short: the file ends inside the '" + idText + "' chunk at offset " + Offset(chunkStart));
    whole_ = false;
    cut_ = true;
  }

  static constexpr std::size_t kNoOutput = static_cast<std::size_t>(-1);

  ByteFile& input_;
  const std::string& path_;
  const DemuxOptions& options_;
  ConvertSink& sink_;
  const std::int64_t size_;
  std::unique_ptr<unsigned char[]> buffer_;  // sound data on its way through
  std::vector<std::unique_ptr<SoundOutput>> outputs_;
  std::size_t headers_ = 0;
  std::map<std::int32_t, std::size_t> live_;  // stream number -> output
  std::map<std::int32_t, Orphans> orphans_;
  std::unique_ptr<FilmRoutes> films_;                  // none when no movie is asked for
  std::vector<std::optional<std::int32_t>> lastData_;  // each output's last data chunk's time
  std::optional<std::int32_t> latestTime_;             // of the chunks met
  std::size_t cutInData_ = kNoOutput;                  // the output whose data the file ends in
  bool whole_ = true;
  bool cut_ = false;     // the walk ended before the file's end
  DecodeWorker worker_;  // last: stopped before the outputs whose jobs it holds go
};

}  // namespace

InputKind KindOfStart(const unsigned char* start, std::size_t got, std::int64_t size) {
  if (got < 4) return InputKind::kNotAStream;
  if (IsId(start, "FORM")) return InputKind::kForm;
  if (got < kChunkHeaderSize || !IsPrintable(start)) return InputKind::kNotAStream;
  const std::int32_t chunkSize = ReadBigEndian32(start + kChunkSizeOffset);
  if (chunkSize < kChunkHeaderSize || chunkSize > size) return InputKind::kNotAStream;
  return InputKind::kChunkStream;
}

InputKind KindOfInput(ByteFile& input) {
  const std::int64_t size = input.Size();
  unsigned char header[kChunkHeaderSize];
  const auto got = static_cast<std::size_t>(std::min<std::int64_t>(size, kChunkHeaderSize));
  if (got >= 4) {
    input.Seek(0);
    input.Read(header, got);
  }
  return KindOfStart(header, got, size);
}

bool DemuxFile(const InputSource& source, const DemuxOptions& options, ConvertSink& sink) {
  const std::string& path = source.path;
  ByteFile input;
  try {
    input.Open(source);
    switch (KindOfInput(input)) {
      case InputKind::kNotAStream:
        sink.Tell(path, "not a chunk stream; skipped");
        return false;
      case InputKind::kForm:
        return DemuxForm(input, path, options, sink);
      case InputKind::kChunkStream:
        return ChunkStreamDemux(input, path, options, sink).Run();
    }
  } catch (const CommandError& error) {
    sink.Tell(path, ErrorCause(error));
  }
  return false;
}

}  // namespace morvane
