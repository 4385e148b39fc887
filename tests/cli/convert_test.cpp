// convert and make-demo: a batch over several streams, each sound file at
// its own header's rate, and the demo stream that a newcomer tries first.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "audio/demo_stream.h"
#include "run_cli.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"

namespace morvane::test {
namespace {

StreamBuilder::Header HeaderAt(std::int32_t rate) {
  StreamBuilder::Header header;
  header.sampleRate = rate;
  return header;
}

// Two sound streams, at 22050 and 11025 Hz.
std::string WriteTwoRateStream(const TempDir& dir, const std::string& name) {
  return dir.Write(name, StreamBuilder()
                             .Shdr(HeaderAt(22050))
                             .Ssmp(PatternBytes(150, 1))
                             .Sized("CTRL", Bytes(16, 0))
                             .Sized("SSND", {1, 2, 3, 4})  // stepped over in the map
                             .Ssmp(PatternBytes(40, 2))
                             .Shdr(HeaderAt(11025))
                             .Ssmp(PatternBytes(160, 3))
                             .bytes());
}

std::string WrittenLines(const std::string& path) {
  return path + ".MAP\n" + path + "0.sound\n" + path + "1.sound\n" + path + "0.sound.wav\n" + path +
         "1.sound.wav\n";
}

TEST(ConvertCommandTest, EachSoundFileTakesTheRateOfItsOwnHeader) {
  TempDir dir;
  const std::string path = WriteTwoRateStream(dir, "two.str");
  CliRun run = RunCli({"convert", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(WrittenLines(path), run.out);
  EXPECT_EQ("", run.err);
  const Bytes first = ReadAll(path + "0.sound.wav");
  const Bytes second = ReadAll(path + "1.sound.wav");
  EXPECT_EQ(22050u, LittleEndian32At(first, 24));
  EXPECT_EQ(11025u, LittleEndian32At(second, 24));
  // (150 + 40 - 140) / 2 frames and (160 - 140) / 2 frames, 4 bytes each.
  EXPECT_EQ(44u + 100, first.size());
  EXPECT_EQ(44u + 40, second.size());

  // --rate overrides both, and the files are written over.
  run = RunCli({"convert", "--rate", "8000", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(WrittenLines(path), run.out);
  EXPECT_EQ(8000u, LittleEndian32At(ReadAll(path + "0.sound.wav"), 24));
  EXPECT_EQ(8000u, LittleEndian32At(ReadAll(path + "1.sound.wav"), 24));
}

TEST(ConvertCommandTest, AFailingFileIsReportedAndTheOthersGoOn) {
  TempDir dir;
  const std::string missing = dir.File("missing.str");
  const std::string cut = dir.Write("cut.str", Bytes{'S', 'N', 'D'});
  const std::string good = WriteTwoRateStream(dir, "good.str");
  const std::string silent = dir.Write("film.str", StreamBuilder().Sized("FILM", Bytes(40, 0)).bytes());

  const CliRun run = RunCli({"convert", missing, cut, good, silent});
  EXPECT_EQ(1, run.status);
  // Lines name complete files only: the cut stream's map, emptied before
  // its error, is not among them. A stream without sound has only its map.
  EXPECT_EQ(WrittenLines(good) + silent + ".MAP\n", run.out);
  EXPECT_EQ(missing + ": Input Error \n" + cut + ": Read beyond end of file.\n", run.err);
  EXPECT_TRUE(Exists(good + "1.sound.wav"));
  EXPECT_FALSE(Exists(cut + "0.sound"));
}

TEST(ConvertCommandTest, ShowsAProgressBarOnlyOnATerminal) {
  TempDir dir;
  const std::string a = WriteTwoRateStream(dir, "a.str");
  const std::string b = WriteTwoRateStream(dir, "b.str");
  const CliRun run = RunCli({"convert", a, b}, {}, true);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(WrittenLines(a) + WrittenLines(b), run.out);
  EXPECT_NE(std::string::npos, run.err.find("] 0/2 " + a + ": analyze"));
  EXPECT_NE(std::string::npos, run.err.find("] 1/2 " + b + ": analyze"));
  EXPECT_NE(std::string::npos, run.err.find("[########################] 2/2 done"));
}

TEST(MakeDemoCommandTest, TheDemoAnalysesIntoTwoStreamsThatDecodeCloseToTheMelody) {
  TempDir dir;
  const std::string path = dir.File("demo.str");
  CliRun run = RunCli({"make-demo", path});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.out);

  run = RunCli({"analyze", path});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.out.find("\nSHDR sub-chunks founded:2\n"));
  EXPECT_NE(std::string::npos, run.out.find("\nFrequency: 22050 (Hz)\n"));
  EXPECT_NE(std::string::npos, run.out.find("\nCompression Type: SDX2\n"));
  EXPECT_NE(std::string::npos, run.out.find("\nNumber Of Channels: 2\n"));

  run = RunCli({"convert", path});
  ASSERT_EQ(0, run.status) << run.err;
  const DemoStreamOptions options;
  for (std::size_t stream = 0; stream < 2; ++stream) {
    const std::string sound = path + std::to_string(stream) + ".sound";
    const Bytes soundBytes = ReadAll(sound);
    EXPECT_EQ(Bytes(kDemoPaddingBytes, 0), Bytes(soundBytes.begin(), soundBytes.begin() + kDemoPaddingBytes));

    const Bytes wav = ReadAll(sound + ".wav");
    EXPECT_EQ(22050u, LittleEndian32At(wav, 24));
    const std::vector<std::int16_t> melody = DemoStreamMelody(options, stream);
    ASSERT_EQ(44 + 2 * melody.size(), wav.size());
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < melody.size(); ++i) {
      const auto decoded = static_cast<std::int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
      const auto wanted = static_cast<double>(melody[i]);
      signal += wanted * wanted;
      noise += (decoded - wanted) * (decoded - wanted);
    }
    EXPECT_GT(signal / melody.size(), 1e6) << "the melody is no whisper";
    EXPECT_GT(10 * std::log10(signal / noise), 30.0) << "signal to noise in dB, stream " << stream;
  }
}

// The chunks of a stream, read back: id, start and size.
struct ChunkSeen {
  std::string id;
  std::size_t start;
  std::size_t size;
};

std::vector<ChunkSeen> Chunks(const std::string& bytes) {
  std::vector<ChunkSeen> chunks;
  for (std::size_t at = 0; at + 8 <= bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    const std::size_t size =
        std::size_t{p[4]} << 24 | std::size_t{p[5]} << 16 | std::size_t{p[6]} << 8 | p[7];
    // A sound chunk is told by its sub-chunk id as well.
    const std::size_t idLength = bytes.compare(at, 4, "SNDS") == 0 ? 20 : 4;
    std::string id(bytes, at, idLength);
    if (idLength == 20) id.replace(4, 12, "/");
    chunks.push_back({id, at, size});
    if (size < 8) break;
    at += size;
  }
  return chunks;
}

TEST(DemoStreamTest, BlocksOpenWithCtrlEndWithFillAndHoldEveryStream) {
  DemoStreamOptions options;
  options.seconds = 0.5;
  options.rates = {22050, 11025, 8000};
  options.soundChunkData = 2000;
  options.filmChunkSize = 500;
  options.blockSize = 8192;
  std::ostringstream out;
  std::size_t largestWrite = 0;
  WriteDemoStream(options, [&](const unsigned char* bytes, std::size_t count) {
    largestWrite = std::max(largestWrite, count);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  });
  const std::string bytes = out.str();
  EXPECT_LE(largestWrite, options.blockSize);  // piece by piece, however long the stream
  ASSERT_EQ(0u, bytes.size() % options.blockSize);

  const std::vector<ChunkSeen> chunks = Chunks(bytes);
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(bytes.size(), chunks.back().start + chunks.back().size);
  std::vector<std::int32_t> rates;
  std::vector<std::size_t> soundBytes;
  std::map<std::string, int> kinds;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const ChunkSeen& chunk = chunks[i];
    ++kinds[chunk.id];
    const std::size_t offsetInBlock = chunk.start % options.blockSize;
    if (offsetInBlock == 0) {
      EXPECT_EQ("CTRL", chunk.id) << chunk.start;
    }
    // No chunk crosses a block's end.
    EXPECT_LE(offsetInBlock + chunk.size, options.blockSize) << chunk.id << " at " << chunk.start;
    if (chunk.id == "SNDS/SHDR") {
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + chunk.start + 44);
      rates.push_back(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
      soundBytes.push_back(0);
    }
    if (chunk.id == "SNDS/SSMP") {
      ASSERT_FALSE(soundBytes.empty());
      EXPECT_EQ("FILM", chunks[i - 1].id);
      soundBytes.back() += chunk.size - 24;
    }
  }
  EXPECT_EQ(options.rates, rates);
  for (std::size_t stream = 0; stream < rates.size(); ++stream) {
    EXPECT_EQ(kDemoPaddingBytes + 2 * DemoStreamFrames(options, stream), soundBytes[stream]);
  }
  EXPECT_GT(kinds["FILL"], 0);
  EXPECT_EQ(static_cast<int>(bytes.size() / options.blockSize), kinds["CTRL"]);

  options.blockSize = 1024;  // no room for a FILM and SSMP pair
  EXPECT_THROW(WriteDemoStream(options, out), std::invalid_argument);
  options.blockSize = 8192;
  options.soundChunkData = 1001;  // a frame would be split
  EXPECT_THROW(WriteDemoStream(options, out), std::invalid_argument);
}

}  // namespace
}  // namespace morvane::test
