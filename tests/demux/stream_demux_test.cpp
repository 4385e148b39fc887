// The batch converter's pass over streams of every shape a user meets, each
// output checked sample for sample against the window's decoder.

#include "demux/stream_demux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "audio/sdx2.h"
#include "support/sound_models.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

class RecordingSink : public ConvertSink {
 public:
  void Wrote(const std::string& path) override { written.push_back(path); }
  void Tell(const std::string& name, const std::string& text) override { told.push_back(name + ": " + text); }
  std::vector<std::string> written, told;
};

std::uint32_t LittleEndian32(const Bytes& bytes, std::size_t offset) {
  return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
         std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

void AppendSample(Bytes& out, std::int16_t sample) {
  out.push_back(static_cast<unsigned char>(sample));
  out.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(sample) >> 8));
}

// The window's decoder, frame by frame; a lone last byte is no frame.
Bytes StereoReference(const Bytes& data) {
  Sdx2State state;
  Bytes out;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const Sdx2Frame frame = DecodeSdx2Frame(state, data[i], data[i + 1]);
    AppendSample(out, frame.sample1);
    AppendSample(out, frame.sample2);
  }
  return out;
}

// One channel state: a frame of two equal bytes runs both channels alike.
Bytes MonoReference(const Bytes& data) {
  Sdx2State state;
  Bytes out;
  for (const unsigned char byte : data) AppendSample(out, DecodeSdx2Frame(state, byte, byte).sample1);
  return out;
}

Bytes Cut(const Bytes& bytes, std::size_t dropped) {
  return Bytes(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(dropped));
}

// One file the pass writes: its name after the base, and what it must hold.
struct Output {
  std::string suffix;          // "0.sound.wav" (decoded) or "0.sound" (raw)
  std::uint16_t channels;      // of a WAV
  std::uint32_t rate;          // of a WAV
  Bytes data;                  // the stream's own data, before decoding
  std::string codec = "SDX2";  // of a WAV: as the models name it
};

struct DemuxCase {
  DemuxCase(std::string name, Bytes file, bool whole, std::vector<Output> outputs,
            std::vector<std::string> told, bool keepSound = false, std::optional<std::int32_t> rate = {})
      : name(std::move(name)),
        file(std::move(file)),
        whole(whole),
        outputs(std::move(outputs)),
        told(std::move(told)),
        keepSound(keepSound),
        rate(rate) {}
  std::string name;
  Bytes file;
  bool whole;
  std::vector<Output> outputs;    // every file written, in the order written
  std::vector<std::string> told;  // a piece of each line told, in order
  bool keepSound;
  std::optional<std::int32_t> rate;
};

const Bytes kA = PatternBytes(300, 1), kB = PatternBytes(211, 2), kC = PatternBytes(64, 3);

// A header of another sample size.
StreamBuilder::Header Sized(StreamBuilder::Header header, std::int32_t bits) {
  header.sampleSize = bits;
  return header;
}
StreamBuilder::Header Eight(const StreamBuilder::Header& header) { return Sized(header, 8); }

std::vector<DemuxCase> Cases() {
  const Bytes a1(kA.begin(), kA.begin() + 101), a2(kA.begin() + 101, kA.begin() + 200),
      a3(kA.begin() + 200, kA.end());
  const Bytes b1(kB.begin(), kB.begin() + 100), b2(kB.begin() + 100, kB.end());
  const Bytes stereoStream = StreamBuilder()
                                 .Sized("FILM", Bytes(40, 7))
                                 .Shdr(Header(0, 22050))
                                 .Ssmp(a1)
                                 .Sized("CTRL", Bytes(8, 0))
                                 .Ssmp(a2)
                                 .Ssmp(a3)
                                 .bytes();
  return {
      {"stereo, frames straddling blocks of odd length",
       stereoStream,
       true,
       {{"0.sound.wav", 2, 22050, kA}},
       {}},
      {"mono at 44100 Hz",
       StreamBuilder().Shdr(Header(0, 44100, 1)).Ssmp(b1).Sized("FILL", {}).Ssmp(b2).bytes(),
       true,
       {{"0.sound.wav", 1, 44100, kB}},
       {}},
      {"two streams interleaved, each at its own rate and channel count",
       StreamBuilder()
           .Shdr(Header(0, 22050))
           .Shdr(Header(1, 11025, 1))
           .Ssmp(a1, 0, 0)
           .Ssmp(b1, 0, 1)
           .Ssmp(a2, 0, 0)
           .Ssmp(b2, 0, 1)
           .Ssmp(a3, 0, 0)
           .bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA}, {"1.sound.wav", 1, 11025, kB}},
       {}},
      {"flags in the high half of the word never split a stream",
       StreamBuilder()
           .Shdr(Header(0x10000, 22050))
           .Ssmp(a1, 0, 0)
           .Ssmp(a2, 0, 0x10000)
           .Ssmp(a3, 0, 0x30000)
           .bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA}},
       {}},
      {"streams one after another under one stream number",
       StreamBuilder().Shdr(Header(0, 22050)).Ssmp(kA).Shdr(Header(0, 8000)).Ssmp(kC).bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA}, {"1.sound.wav", 2, 8000, kC}},
       {}},
      {"raw data kept too, and one rate for all",
       StreamBuilder().Shdr(Header(5, 22050)).Ssmp(kC, 0, 5).bytes(),
       true,
       {{"0.sound.wav", 2, 8000, kC}, {"0.sound", 0, 0, kC}},
       {},
       true,
       8000},
      {"a compression type no codec knows is kept undecoded, its four characters told",
       StreamBuilder()
           .Shdr(Header(0, 22050, 2, "MAC3"))
           .Ssmp(kA)
           .Shdr(Header(1, 22050, 1))
           .Ssmp(kC, 0, 1)
           .bytes(),
       false,
       {{"0.sound", 0, 0, kA}, {"1.sound.wav", 1, 22050, kC}},
       {"in.str0.sound: compression type 'MAC3', 2 channels, 22050 Hz: kept undecoded"}},
      {"CBD2 stereo, frames straddling blocks",
       StreamBuilder().Shdr(Header(0, 22050, 2, "CBD2")).Ssmp(a1).Ssmp(a2).Ssmp(a3).bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA, "CBD2"}},
       {}},
      {"CBD2 mono",
       StreamBuilder().Shdr(Header(0, 11025, 1, "CBD2")).Ssmp(b1).Ssmp(b2).bytes(),
       true,
       {{"0.sound.wav", 1, 11025, kB, "CBD2"}},
       {}},
      {"ADP4 mono, its state carried from chunk to chunk",
       StreamBuilder().Shdr(Header(0, 22050, 1, "ADP4")).Ssmp(a1).Sized("FILL", {}).Ssmp(a2).Ssmp(a3).bytes(),
       true,
       {{"0.sound.wav", 1, 22050, kA, "ADP4"}},
       {}},
      {"stereo ADP4 is kept raw and told",
       StreamBuilder().Shdr(Header(0, 22050, 2, "ADP4")).Ssmp(kC).bytes(),
       false,
       {{"0.sound", 0, 0, kC}},
       {"in.str0.sound: compression type 'ADP4', 2 channels, 22050 Hz: kept undecoded (ADP4 is decoded in "
        "mono only)"}},
      {"uncompressed 16-bit stereo, \"NONE\", samples straddling blocks of odd length",
       StreamBuilder().Shdr(Header(0, 22050, 2, "NONE")).Ssmp(a1).Ssmp(a2).Ssmp(a3).bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA, "PCM16"}},
       {}},
      {"uncompressed 16-bit mono named by four zero bytes",
       StreamBuilder().Shdr(Header(0, 8000, 1, std::string(4, '\0'))).Ssmp(kC).bytes(),
       true,
       {{"0.sound.wav", 1, 8000, kC, "PCM16"}},
       {}},
      {"uncompressed 8-bit stereo named by four blanks: an 8-bit WAV",
       StreamBuilder().Shdr(Eight(Header(0, 22050, 2, "    "))).Ssmp(b1).Ssmp(b2).bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kB, "PCM8"}},
       {}},
      {"uncompressed 8-bit mono of an odd length: a pad byte after the samples",
       StreamBuilder().Shdr(Eight(Header(0, 22050, 1, "NONE"))).Ssmp(kB).bytes(),
       true,
       {{"0.sound.wav", 1, 22050, kB, "PCM8"}},
       {}},
      {"uncompressed 12-bit samples are kept raw and told",
       StreamBuilder().Shdr(Sized(Header(0, 22050, 2, "NONE"), 12)).Ssmp(kC).bytes(),
       false,
       {{"0.sound", 0, 0, kC}},
       {"compression type 'NONE', 2 channels, 22050 Hz: kept undecoded (uncompressed sound is decoded at 8 "
        "and 16 bits a sample only, not 12)"}},
      {"two codecs in one stream, interleaved: each its own WAV",
       StreamBuilder()
           .Shdr(Header(0, 22050, 2, "CBD2"))
           .Shdr(Header(1, 11025, 1, "ADP4"))
           .Ssmp(a1, 0, 0)
           .Ssmp(b1, 0, 1)
           .Ssmp(a2, 0, 0)
           .Ssmp(b2, 0, 1)
           .Ssmp(a3, 0, 0)
           .bytes(),
       true,
       {{"0.sound.wav", 2, 22050, kA, "CBD2"}, {"1.sound.wav", 1, 11025, kB, "ADP4"}},
       {}},
      {"six channels of SDX2 are not guessed at",
       StreamBuilder().Shdr(Header(0, 22050, 6)).Ssmp(kC).bytes(),
       false,
       {{"0.sound", 0, 0, kC}},
       {"in.str0.sound: compression type 'SDX2', 6 channels"}},
      {"a rate of 0 gives no WAV",
       StreamBuilder().Shdr(Header(0, 0)).Ssmp(kC).bytes(),
       false,
       {{"0.sound", 0, 0, kC}},
       {"0 Hz: kept undecoded"}},
      {"data before any header of its stream is skipped",
       StreamBuilder().Ssmp(kB, 0, 3).Shdr(Header(0, 22050)).Ssmp(kA).Ssmp(kB, 0, 3).bytes(),
       false,
       {{"0.sound.wav", 2, 22050, kA}},
       {"in.str: stream 3: 2 data block(s), 422 bytes, before any sound header"}},
      {"a cut rip converts as far as the data goes",
       Cut(stereoStream, 33),
       false,
       {{"0.sound.wav", 2, 22050, Cut(kA, 33)}},
       {"in.str0.sound.wav: cut short: the file ends inside its data at offset"}},
      {"a rip cut inside a chunk after the sound names the sound it cut",
       Cut(StreamBuilder().Shdr(Header(0, 22050)).Ssmp(kA).Sized("FILM", Bytes(100, 0)).bytes(), 50),
       false,
       {{"0.sound.wav", 2, 22050, kA}},
       {"in.str: cut short: the file ends inside the 'FILM' chunk at offset",
        "in.str0.sound.wav: cut short with the stream (its last data 0.0 s of stream time before the cut)"}},
      {"a cut names the sounds that played within two seconds of it, and no other",
       Cut(StreamBuilder()
               .Shdr(Header(0, 22050))
               .Shdr(Header(1, 11025, 1))
               .Shdr(Header(2, 22050))
               .Ssmp(b1, 0, 1)
               .Ssmp(a1, 0, 0)
               .Ssmp(kC, 481, 2)
               .Ssmp(a2, 960, 0)
               .Sized("FILL", Bytes(100, 0))
               .bytes(),
           50),
       false,
       {{"0.sound.wav", 2, 22050, Bytes(kA.begin(), kA.begin() + 200)},
        {"1.sound.wav", 1, 11025, b1},
        {"2.sound.wav", 2, 22050, kC}},
       {"in.str: cut short: the file ends inside the 'FILL' chunk at offset",
        "in.str0.sound.wav: cut short with the stream (its last data 0.0 s",
        "in.str2.sound.wav: cut short with the stream (its last data 2.0 s"}},
      {"a rip cut inside a sound header",
       Cut(StreamBuilder().Shdr(Header(0, 22050)).Ssmp(kC).Shdr(Header(1, 22050)).bytes(), 10),
       false,
       {{"0.sound.wav", 2, 22050, kC}},
       {"in.str: cut short: the file ends inside the sound header at offset",
        "in.str0.sound.wav: cut short with the stream"}},
      {"a chunk smaller than its header ends the walk",
       StreamBuilder().Shdr(Header(0, 22050)).Ssmp(kC).Chunk("FILM", 4).Ssmp(kA).bytes(),
       false,
       {{"0.sound.wav", 2, 22050, kC}},
       {"has size 4, less than its header", "in.str0.sound.wav: cut short with the stream"}},
      {"AIFC stereo", IffAudioFile({.rate = 44100, .data = kA}), true, {{"0.sound.wav", 2, 44100, kA}}, {}},
      {"AIFC mono, its data after an offset",
       IffAudioFile({.channels = 1, .rate = 32000, .ssndOffset = 6, .data = kB}),
       true,
       {{"0.sound.wav", 1, 32000, kB}},
       {}},
      {"AIFC cut inside its sound",
       Cut(IffAudioFile({.rate = 22050, .data = kA}), 21),
       false,
       {{"0.sound.wav", 2, 22050, Cut(kA, 21)}},
       {"in.str0.sound.wav: cut short: the file ends inside the SSND data; 21 bytes missing"}},
      {"AIFF's 16-bit samples decode as uncompressed sound",
       IffAudioFile({.formType = "AIFF", .data = kC}),
       true,
       {{"0.sound.wav", 2, 22050, kC, "PCM16"}},
       {}},
      {"a FORM of another kind",
       Concat({{'F', 'O', 'R', 'M', 0, 0, 0, 12, 'I', 'L', 'B', 'M'}, Bytes(8, 0)}),
       false,
       {},
       {"in.str: a FORM file of type 'ILBM'"}},
      {"a stream without sound",
       StreamBuilder().Sized("FILM", Bytes(40, 1)).Sized("CTRL", {}).bytes(),
       false,
       {},
       {"in.str: no sound header in the stream; nothing to convert"}},
      {"a PNG",
       Concat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kC}),
       false,
       {},
       {"in.str: not a chunk stream"}},
      {"an empty file", {}, false, {}, {"in.str: not a chunk stream"}},
      {"a first chunk larger than the file",
       Concat({{'S', 'N', 'D', 'S', 0, 0, 1, 0}, kC}),
       false,
       {},
       {"in.str: not a chunk stream"}},
  };
}

TEST(StreamDemuxTest, EveryShapeOfStreamComesOutSampleForSample) {
  for (const DemuxCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = dir.Write("in.str", c.file);
    RecordingSink sink;
    DemuxOptions options;
    options.outputBase = input;
    options.keepSound = c.keepSound;
    options.rate = c.rate;
    EXPECT_EQ(c.whole, DemuxFile(input, options, sink));

    std::vector<std::string> expectedNames;
    std::set<std::string> expectedFiles = {"in.str"};
    for (const Output& output : c.outputs) {
      expectedNames.push_back(input + output.suffix);
      expectedFiles.insert("in.str" + output.suffix);
    }
    EXPECT_EQ(expectedNames, sink.written);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(expectedFiles, files) << "no file but the outputs is written";

    ASSERT_EQ(c.told.size(), sink.told.size()) << (sink.told.empty() ? "" : sink.told.front());
    for (std::size_t i = 0; i < c.told.size(); ++i) {
      EXPECT_NE(std::string::npos, sink.told[i].find(c.told[i])) << sink.told[i];
    }

    for (const Output& output : c.outputs) {
      const Bytes bytes = ReadAll(input + output.suffix);
      if (output.suffix.ends_with(".sound")) {
        EXPECT_EQ(output.data, bytes) << output.suffix;
        continue;
      }
      ASSERT_GE(bytes.size(), 44u) << output.suffix;
      const std::uint32_t dataSize = LittleEndian32(bytes, 40);
      ASSERT_LE(44u + dataSize, bytes.size());
      const Bytes samples(bytes.begin() + 44, bytes.begin() + 44 + dataSize);
      // SDX2 against the window's decoder, every codec against its model.
      if (output.codec == "SDX2") {
        EXPECT_EQ(output.channels == 1 ? MonoReference(output.data) : StereoReference(output.data), samples)
            << output.suffix;
      }
      EXPECT_EQ(ModelWavSamples(output.codec, output.channels, output.data), samples) << output.suffix;
      const unsigned bytesPerSample = output.codec == "PCM8" ? 1 : 2;
      EXPECT_EQ(dataSize % 2, bytes.size() - 44 - dataSize)
          << "a pad byte after an odd size, and nothing else";
      EXPECT_EQ(bytes.size() - 8, LittleEndian32(bytes, 4));
      EXPECT_EQ(output.channels, bytes[22] | bytes[23] << 8);
      EXPECT_EQ(output.rate, LittleEndian32(bytes, 24));
      EXPECT_EQ(output.rate * bytesPerSample * output.channels, LittleEndian32(bytes, 28));
      EXPECT_EQ(bytesPerSample * output.channels, bytes[32] | bytes[33] << 8);
      EXPECT_EQ(8 * bytesPerSample, bytes[34] | bytes[35] << 8);
    }
  }
}

TEST(StreamDemuxTest, AFolderThatRefusesTheOutputsIsToldAndTheOtherOutputsGoOn) {
  TempDir dir;
  const std::string input = dir.Write(
      "in.str", StreamBuilder().Shdr(Header(0, 22050)).Ssmp(kA).Shdr(Header(1, 8000)).Ssmp(kC, 0, 1).bytes());
  // The first output's name is taken by a folder.
  std::filesystem::create_directory(dir.File("out0.sound.wav"));
  RecordingSink sink;
  DemuxOptions options;
  options.outputBase = dir.File("out");
  EXPECT_FALSE(DemuxFile(input, options, sink));
  EXPECT_EQ(std::vector<std::string>{dir.File("out1.sound.wav")}, sink.written);
  ASSERT_EQ(1u, sink.told.size());
  // In the system's words: "Is a directory" on POSIX, access denied on Windows.
  EXPECT_EQ(
      dir.File("out0.sound.wav") + ": " + platform::SystemErrorText(platform::SystemErrorFromErrno(EISDIR)),
      sink.told.front());
  const Bytes written = ReadAll(dir.File("out1.sound.wav"));
  EXPECT_EQ(StereoReference(kC), Bytes(written.begin() + 44, written.end()));
}

}  // namespace
}  // namespace morvane::test
