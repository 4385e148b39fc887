#include "commands/disc_flow.h"

#include <algorithm>
#include <memory>

#include "audio/wav_header.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/support.h"

namespace morvane {

namespace {

// Audio tracks are copied this much at a time.
constexpr std::size_t kTrackPiece = 256 * 1024;

std::string Below(const std::string& root, const std::string& discPath) {
  return platform::Utf8FromPath(platform::PathFromUtf8(root) / platform::PathFromUtf8(discPath));
}

std::string FolderOf(const std::string& path) {
  return platform::Utf8FromPath(platform::PathFromUtf8(path).parent_path());
}

bool TellProblems(const Disc& disc, ConvertSink& sink) {
  for (const auto& [name, text] : disc.Problems()) sink.Tell(name, text);
  return disc.Problems().empty();
}

// A sink over one file of a disc that tells the progress over the disc's
// bytes, as a share of the image's own size, which the batch counts; the
// rest goes through as it is.
class DiscProgress : public ConvertSink {
 public:
  DiscProgress(ConvertSink& sink, std::int64_t total, const std::string& imagePath)
      : sink_(sink), total_(std::max<std::int64_t>(total, 1)), scale_(DiscImageBytes(imagePath)) {
    if (scale_ <= 0) scale_ = 1;
  }
  void Next(std::int64_t size) {
    before_ += size_;
    size_ = size;
    Report(before_);
  }
  void Wrote(const std::string& path) override { sink_.Wrote(path); }
  void Tell(const std::string& name, const std::string& text) override { sink_.Tell(name, text); }
  void Progress(std::int64_t done, std::int64_t /*total*/) override {
    Report(before_ + std::clamp<std::int64_t>(done, 0, size_));
  }
  void ChunkMet(const unsigned char* id, std::int64_t start, std::int64_t size) override {
    sink_.ChunkMet(id, start, size);
  }
  void FilmChunkMet(const unsigned char* subType) override { sink_.FilmChunkMet(subType); }
  void Decoded(const std::string& wavPath, const unsigned char* pcm, std::size_t bytes,
               int channels) override {
    sink_.Decoded(wavPath, pcm, bytes, channels);
  }
  void SoundDone(const SoundFacts& facts) override { sink_.SoundDone(facts); }
  void MovieDone(const MovieFacts& facts) override { sink_.MovieDone(facts); }
  void Finish() { Report(total_); }

 private:
  void Report(std::int64_t done) {
    sink_.Progress(static_cast<std::int64_t>(static_cast<double>(done) / static_cast<double>(total_) *
                                             static_cast<double>(scale_)),
                   scale_);
  }

  ConvertSink& sink_;
  std::int64_t total_;
  std::int64_t before_ = 0, size_ = 0;
  std::int64_t scale_;
};

// Writes an audio track's samples into a WAV, little-endian as a WAV holds
// them. Gives true when the whole track was written.
bool WriteAudioTrack(const Disc& disc, const AudioTrack& track, const std::string& path, DiscProgress& sink) {
  ByteFile input, output;
  try {
    input.Open(InputSource(disc.ImagePath() + ": " + AudioTrackFileName(track.number), track.range));
    const std::int64_t size = input.Size();
    const std::int64_t frames = size / WavHeader::kBytesPerFrame;
    output.Open(path, ByteFile::Mode::kCreate);
    unsigned char header[kWavHeaderSize];
    WriteWavHeader(header, disc::kCdAudioRate, WavHeader::kChannels,
                   static_cast<std::uint32_t>(frames * WavHeader::kBytesPerFrame));
    output.Write(header, sizeof header);
    const std::unique_ptr<unsigned char[]> piece(new unsigned char[kTrackPiece]);
    for (std::int64_t done = 0; done < frames * WavHeader::kBytesPerFrame;) {
      const auto count = static_cast<std::size_t>(
          std::min<std::int64_t>(frames * WavHeader::kBytesPerFrame - done, kTrackPiece));
      input.Read(piece.get(), count);
      if (track.bigEndian) {
        for (std::size_t at = 0; at + 1 < count; at += 2) std::swap(piece[at], piece[at + 1]);
      }
      output.Write(piece.get(), count);
      sink.Decoded(path, piece.get(), count, WavHeader::kChannels);
      done += static_cast<std::int64_t>(count);
      sink.Progress(done, size);
    }
    output.Close();
    sink.SoundDone({path, disc::kCdAudioRate, WavHeader::kChannels, frames});
    sink.Wrote(path);
    const std::int64_t missing = track.range.length - size + size % WavHeader::kBytesPerFrame;
    if (missing > 0) {
      sink.Tell(path, "cut short: the track's file ends " + std::to_string(missing) +
                          " bytes before its end; written up to the cut");
      return false;
    }
    return true;
  } catch (const CommandError& error) {
    output.Discard();
    sink.Tell(error.path().empty() ? path : error.path(), ErrorCause(error));
    return false;
  }
}

std::int64_t TotalBytes(const Disc& disc) {
  std::int64_t total = 0;
  for (const DiscFile& file : disc.Files()) total += file.size;
  for (const AudioTrack& track : disc.Tracks()) total += track.range.length;
  return total;
}

}  // namespace

std::string DiscFileKindText(const DiscFileFacts& facts) {
  switch (facts.kind) {
    case DiscFileKind::kStream:
      return "stream: " + std::to_string(facts.sounds) + (facts.sounds == 1 ? " sound, " : " sounds, ") +
             std::to_string(facts.films) + (facts.films == 1 ? " film" : " films");
    case DiscFileKind::kAiff:
      return "AIFF";
    case DiscFileKind::kOther:
      break;
  }
  return "other";
}

std::string DiscPartKindText(const DiscPart& part) {
  if (part.audioTrack) return "CD audio";
  return part.kind == DiscFileKind::kStream ? "stream" : DiscFileKindText({part.kind, 0, 0});
}

std::string AudioTrackFileName(int number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  return "Track" + digits + ".wav";
}

DiscListing ListDisc(const std::string& imagePath) {
  const Disc disc = ReadDisc(imagePath);
  DiscListing listing;
  listing.label = disc.Label();
  listing.problems = disc.Problems();
  listing.tracks = disc.Tracks();
  for (const std::string& folder : disc.Folders()) listing.entries.push_back({folder + "/", true, 0, {}});
  for (const DiscFile& file : disc.Files()) {
    DiscListing::Entry entry{file.path, false, file.size, {}};
    try {
      ByteFile input;
      input.Open(disc.SourceOf(file));
      entry.facts = KindOfDiscFile(input, true);
    } catch (const CommandError& error) {
      listing.problems.emplace_back(disc.NameOf(file.path), ErrorCause(error));
    }
    listing.entries.push_back(entry);
  }
  // The tree in the order of names, each folder before what it holds.
  const auto treeKey = [](const std::string& path) {
    std::string key = path;
    std::replace(key.begin(), key.end(), '/', '\x01');
    return key;
  };
  std::sort(listing.entries.begin(), listing.entries.end(),
            [&](const DiscListing::Entry& a, const DiscListing::Entry& b) {
              return treeKey(a.path) < treeKey(b.path);
            });
  return listing;
}

bool RunUnpack(const std::string& imagePath, const std::string& outputDir, BatchSink& sink) {
  const Disc disc = ReadDisc(imagePath);
  bool whole = TellProblems(disc, sink);
  DiscProgress progress(sink, TotalBytes(disc), imagePath);
  for (const std::string& folder : disc.Folders()) {
    const std::string path = Below(outputDir, folder);
    if (const std::string failure = platform::MakeFolders(path); !failure.empty()) {
      sink.Tell(path, failure);
      whole = false;
    }
  }
  // The folder is made for what there is to write in it.
  if (disc.Folders().empty() && !disc.Files().empty()) {
    if (const std::string failure = platform::MakeFolders(outputDir); !failure.empty()) {
      sink.Tell(outputDir, failure);
      return false;
    }
  }
  for (const DiscFile& file : disc.FilesInDiscOrder()) {
    if (sink.StopRequested()) return false;
    progress.Next(file.size);
    const std::string path = Below(outputDir, file.path);
    ByteFile input, output;
    try {
      input.Open(disc.SourceOf(file));
      output.Open(path, ByteFile::Mode::kCreate);
      input.CopyTo(output, static_cast<std::size_t>(file.size));
      output.Close();
      sink.Wrote(path);
    } catch (const CommandError& error) {
      output.Discard();
      sink.Tell(error.path().empty() ? disc.NameOf(file.path) : error.path(), ErrorCause(error));
      whole = false;
    }
  }
  progress.Finish();
  return whole;
}

DiscConversion ConvertDisc(const std::string& imagePath, const std::string& outputRoot,
                           const ConvertSettings& settings, BatchSink& sink) {
  const Disc disc = ReadDisc(imagePath);
  DiscConversion run;
  run.whole = TellProblems(disc, sink);
  if (disc.HasData()) sink.DiscLabel(disc.Label());
  DiscProgress progress(sink, TotalBytes(disc), imagePath);
  // A stop ends the conversion after the part in hand, never before the
  // first.
  std::size_t parts = 0;
  const auto stop = [&] {
    if (parts++ == 0 || !sink.StopRequested()) return false;
    run.stopped = true;
    run.whole = false;
    return true;
  };
  int converted = 0;
  for (const DiscFile& file : disc.FilesInDiscOrder()) {
    if (stop()) return run;
    progress.Next(file.size);
    const InputSource source = disc.SourceOf(file);
    DiscPart part{file.path, file.size, DiscFileKind::kOther, false};
    try {
      ByteFile input;
      input.Open(source);
      part.kind = KindOfDiscFile(input, false).kind;
    } catch (const CommandError& error) {
      sink.DiscPartStart(part);
      sink.Tell(source.path, ErrorCause(error));
      run.whole = false;
      continue;
    }
    sink.DiscPartStart(part);
    if (part.kind == DiscFileKind::kOther) continue;
    const std::string base = Below(outputRoot, file.path);
    if (const std::string failure = platform::MakeFolders(FolderOf(base)); !failure.empty()) {
      sink.Tell(FolderOf(base), failure);
      run.whole = false;
      continue;
    }
    ++converted;
    if (!ConvertSource(source, base, settings, progress)) run.whole = false;
  }
  for (const AudioTrack& track : disc.Tracks()) {
    if (stop()) return run;
    ++converted;
    progress.Next(track.range.length);
    const std::string name = AudioTrackFileName(track.number);
    sink.DiscPartStart({name, track.range.length, DiscFileKind::kOther, true});
    if (const std::string failure = platform::MakeFolders(outputRoot); !failure.empty()) {
      sink.Tell(outputRoot, failure);
      run.whole = false;
      break;
    }
    if (!WriteAudioTrack(disc, track, Below(outputRoot, name), progress)) run.whole = false;
  }
  progress.Finish();
  // A disc that gave nothing is no success.
  if (converted == 0 && run.whole) {
    sink.Tell(imagePath, "no stream, sound file or audio track on the disc; nothing to convert");
    run.whole = false;
  }
  return run;
}

}  // namespace morvane
