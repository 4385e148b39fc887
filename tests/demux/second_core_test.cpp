// A conversion with a second core (costly sound decoded on it, the other
// outputs written behind by it) and without: the same files, messages and
// samples, in every shape of stream and wherever the disk fills.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>

#include "core/byte_file.h"
#include "demux/stream_demux.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

// A WAV the conversion writes, and what its stream holds for it.
struct Wav {
  std::string suffix;  // after the base: "0.sound.wav"
  std::uint16_t channels;
  std::uint32_t rate;
  Bytes data;                  // the stream's own data, before decoding
  std::string codec = "SDX2";  // as the models name it
};

// Everything a conversion tells but its progress, in order, its folder taken
// out of the names; the samples told as they are decoded, gathered by file.
class TranscriptSink : public ConvertSink {
 public:
  explicit TranscriptSink(std::string folder) : folder_(std::move(folder)) {}
  void Wrote(const std::string& path) override { lines.push_back("wrote " + Name(path)); }
  void Tell(const std::string& name, const std::string& text) override {
    lines.push_back("told " + Name(name) + ": " + text);
  }
  void Decoded(const std::string& wavPath, const unsigned char* pcm, std::size_t bytes, int) override {
    Bytes& samples = decoded[Name(wavPath)];
    samples.insert(samples.end(), pcm, pcm + bytes);
  }
  void SoundDone(const SoundFacts& facts) override {
    lines.push_back("sound " + Name(facts.path) + " " + std::to_string(facts.frames));
  }
  void MovieDone(const MovieFacts& facts) override {
    lines.push_back("movie " + Name(facts.path) + " " + std::to_string(facts.frames));
  }
  std::vector<std::string> lines;
  std::map<std::string, Bytes> decoded;

 private:
  std::string Name(const std::string& path) const {
    return path.starts_with(folder_) ? path.substr(folder_.size()) : path;
  }
  std::string folder_;
};

// A conversion as the user sees it: what it gave, told and wrote.
struct Transcript {
  bool whole = false;
  std::vector<std::string> lines;
  std::map<std::string, Bytes> decoded, files;
  std::int64_t operations = 0;  // of the file layer, when a fault was armed
};

Transcript Convert(const Bytes& file, bool secondCore, bool keepSound, std::int64_t failing = 0) {
  TempDir dir;
  const std::string input = dir.Write("in.str", file);
  TranscriptSink sink(Utf8(dir.path()));
  DemuxOptions options;
  options.outputBase = input;
  options.keepSound = keepSound;
  options.secondCore = secondCore;
  Transcript out;
  if (failing > 0) faults::FailOperation(failing, ENOSPC);
  out.whole = DemuxFile(input, options, sink);
  out.operations = faults::OperationsPerformed();
  faults::Disarm();
  out.lines = std::move(sink.lines);
  out.decoded = std::move(sink.decoded);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = Utf8(entry.path().filename());
    if (name != "in.str") out.files[name] = ReadAll(Utf8(entry.path()));
  }
  return out;
}

void ExpectSameConversion(const Transcript& two, const Transcript& one) {
  EXPECT_EQ(one.whole, two.whole);
  EXPECT_EQ(one.lines, two.lines);
  EXPECT_EQ(one.decoded, two.decoded) << "the samples as they are decoded";
  EXPECT_EQ(one.files, two.files) << "byte for byte";
}

// A stream's sound in the shapes below: its data cut into chunks of about
// `chunk` bytes (a few more or fewer each time, so that frames straddle them).
struct Voice {
  StreamBuilder::Header header;
  Wav wav;
  std::size_t chunk;
};

Voice MakeVoice(std::int32_t stream, const std::string& codec, int channels, std::size_t bytes,
                std::size_t chunk) {
  const std::string type = codec.starts_with("PCM") ? "NONE" : codec;
  StreamBuilder::Header header = Header(stream, 11025 * (stream + 1), channels, type);
  header.sampleSize = codec == "PCM8" ? 8 : 16;
  return {header,
          {"", static_cast<std::uint16_t>(channels), static_cast<std::uint32_t>(header.sampleRate),
           PatternBytes(bytes, 40 + static_cast<std::uint32_t>(stream)), codec},
          chunk};
}

// The voices' headers, then their data chunks in turn while any is left.
void Interleave(StreamBuilder& b, std::vector<Voice>& voices) {
  for (const Voice& voice : voices) b.Shdr(voice.header);
  std::vector<std::size_t> at(voices.size(), 0);
  for (std::size_t round = 0, left = voices.size(); left > 0; ++round) {
    left = 0;
    for (std::size_t i = 0; i < voices.size(); ++i) {
      const Bytes& data = voices[i].wav.data;
      if (at[i] >= data.size()) continue;
      const std::size_t length = std::min(voices[i].chunk + round % 7, data.size() - at[i]);
      b.Ssmp(Slice(data, at[i], length), static_cast<std::int32_t>(round), voices[i].header.stream);
      at[i] += length;
      ++left;
    }
  }
}

struct Case {
  std::string name;
  Bytes file;
  std::vector<Wav> wavs;  // checked against the models
  bool keepSound = false;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto add = [&cases](std::string name, std::vector<std::vector<Voice>> runs, bool keepSound = false) {
    // Each run of voices follows the one before under the same stream
    // numbers: its headers end the outputs before while their jobs are out.
    StreamBuilder b;
    std::vector<Wav> wavs;
    for (auto& voices : runs) {
      for (Voice& voice : voices) {
        voice.wav.suffix = std::to_string(wavs.size()) + ".sound.wav";
        wavs.push_back(voice.wav);
      }
      Interleave(b, voices);
    }
    cases.push_back({std::move(name), b.bytes(), std::move(wavs), keepSound});
  };
  add("dense small chunks of SDX2 stereo", {{MakeVoice(0, "SDX2", 2, 1200000, 3600)}});
  add("large chunks of ADP4 mono, and one larger than a job",
      {{MakeVoice(0, "ADP4", 1, 700000, 65536)}, {MakeVoice(0, "ADP4", 1, 400000, 300000)}});
  // Nine voices: more than the jobs alive at once.
  add("every codec in mono and stereo, interleaved",
      {{MakeVoice(0, "SDX2", 2, 600000, 3600), MakeVoice(1, "SDX2", 1, 300000, 1800),
        MakeVoice(2, "CBD2", 2, 600000, 3600), MakeVoice(3, "CBD2", 1, 300000, 1801),
        MakeVoice(4, "ADP4", 1, 200000, 900), MakeVoice(5, "PCM16", 2, 700000, 7200),
        MakeVoice(6, "PCM16", 1, 500000, 3601), MakeVoice(7, "PCM8", 2, 600000, 3600),
        MakeVoice(8, "PCM8", 1, 300001, 1799)}},
      true);
  add("streams in sequence under the same numbers, the raw data kept",
      {{MakeVoice(0, "CBD2", 2, 700000, 20000), MakeVoice(1, "SDX2", 1, 300000, 4000)},
       {MakeVoice(0, "SDX2", 1, 500000, 20000), MakeVoice(1, "ADP4", 1, 300000, 4000)}},
      true);
  {
    Case cut = cases.front();
    cut.name = "a stream cut inside its data";
    cut.file.resize(cut.file.size() - 1001);
    cut.wavs.front().data.resize(cut.wavs.front().data.size() - 1001);
    cases.push_back(cut);
  }
  {
    // The film's sound is decoded as the movie takes it; before and after
    // the film, by the road of any other.
    const Bytes before = PatternBytes(800000, 50), during = PatternBytes(9000, 51),
                after = PatternBytes(700000, 52);
    StreamBuilder b;
    b.Shdr(Header(0, 22050));
    for (std::size_t at = 0; at < before.size(); at += 4000) b.Ssmp(Slice(before, at, 4000), 0);
    b.Fhdr({.frameCount = 2, .time = 10});
    b.Ssmp(Slice(during, 0, 4500), 10).FilmFrame({.data = CinepakLikeFrame(true, 1, 200, 1), .time = 10});
    b.Ssmp(Slice(during, 4500, 4500), 30).FilmFrame({.data = CinepakLikeFrame(false, 1, 200, 2), .time = 30});
    for (std::size_t at = 0; at < after.size(); at += 4000) b.Ssmp(Slice(after, at, 4000), 200);
    cases.push_back(
        {"a film beside the sound", b.bytes(), {{"0.sound.wav", 2, 22050, Concat({before, during, after})}}});
  }
  return cases;
}

TEST(SecondCoreTest, WithItOrNotTheFilesAndMessagesAreTheSame) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Transcript two = Convert(c.file, true, c.keepSound);
    ExpectSameConversion(two, Convert(c.file, false, c.keepSound));
    for (const Wav& wav : c.wavs) {
      SCOPED_TRACE(wav.suffix);
      ASSERT_EQ(1u, two.files.count("in.str" + wav.suffix));
      const Bytes& bytes = two.files.at("in.str" + wav.suffix);
      const Bytes model = ModelWavSamples(wav.codec, wav.channels, wav.data);
      ASSERT_GE(bytes.size(), 44 + model.size());
      EXPECT_EQ(model,
                Bytes(bytes.begin() + 44, bytes.begin() + 44 + static_cast<std::ptrdiff_t>(model.size())));
    }
  }
}

TEST(SecondCoreTest, AFileThatFailsHalfWayFailsAlikeWithItOrNot) {
  const Case c = Cases()[2];
  const std::int64_t operations = Convert(c.file, false, c.keepSound, std::int64_t{1} << 40).operations;
  ASSERT_GT(operations, 100);
  // The disk fills at a write, a read, an open or a rename anywhere along.
  for (std::int64_t k = 1; k <= operations; k += operations / 17) {
    SCOPED_TRACE(k);
    const Transcript two = Convert(c.file, true, c.keepSound, k);
    EXPECT_FALSE(two.whole);
    ExpectSameConversion(two, Convert(c.file, false, c.keepSound, k));
  }
}

}  // namespace
}  // namespace morvane::test
