// convert and make-demo: a batch over several streams, each sound file at
// its own header's rate, and the demo stream that a newcomer tries first.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "audio/demo_stream.h"
#include "run_cli.h"
#include "support/film_stream.h"
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

std::string WrittenLines(const std::string& path) { return path + "0.sound.wav\n" + path + "1.sound.wav\n"; }

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ConvertCommandTest, EachStreamTakesTheRateOfItsOwnHeader) {
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
  // Every byte of the data is decoded: (150 + 40) / 2 and 160 / 2 frames.
  EXPECT_EQ(44u + 380, first.size());
  EXPECT_EQ(44u + 320, second.size());
  EXPECT_EQ((std::vector<std::string>{"two.str", "two.str0.sound.wav", "two.str1.sound.wav"}),
            FolderEntries(dir.path()));

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
  const std::string png =
      dir.Write("logo.png", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13});
  const std::string silent = dir.Write("film.str", StreamBuilder().Sized("FILM", Bytes(40, 0)).bytes());

  const CliRun run = RunCli({"convert", "--map", missing, cut, good, png, silent});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(good + ".MAP\n" + WrittenLines(good) + silent + ".MAP\n", run.out);
  EXPECT_EQ(missing + ": No such file or directory\n" + cut + ": not a chunk stream; skipped\n" + png +
                ": not a chunk stream; skipped\n" + silent +
                ": no sound header in the stream; nothing to convert\n",
            run.err);
  EXPECT_FALSE(Exists(cut + ".MAP"));
  EXPECT_FALSE(Exists(png + ".MAP"));
}

TEST(ConvertCommandTest, OutputsGoIntoTheFolderGivenAndTheMapIsAnalyzeFilesOwn) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("disc"));
  const std::string a = WriteTwoRateStream(dir, "disc/a.str");
  const std::string b = WriteTwoRateStream(dir, "disc/b.str");
  const std::string out = dir.File("out/nested");
  CliRun run = RunCli({"convert", "-o", out, "--map", "--keep-sound", a, b});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ((std::vector<std::string>{"a.str", "b.str"}), FolderEntries(dir.File("disc")))
      << "nothing is written beside the inputs";
  EXPECT_EQ((std::vector<std::string>{"a.str.MAP", "a.str0.sound", "a.str0.sound.wav", "a.str1.sound",
                                      "a.str1.sound.wav", "b.str.MAP", "b.str0.sound", "b.str0.sound.wav",
                                      "b.str1.sound", "b.str1.sound.wav"}),
            FolderEntries(out));
  EXPECT_TRUE(
      run.out.starts_with(out + "/a.str.MAP\n" + out + "/a.str0.sound.wav\n" + out + "/a.str0.sound\n"))
      << run.out;
  // The raw data is what extract writes, and the map what analyze writes.
  ASSERT_EQ(0, RunCli({"analyze", a}).status);
  ASSERT_EQ(0, RunCli({"extract", a}).status);
  EXPECT_EQ(ReadAll(a + ".MAP"), ReadAll(out + "/a.str.MAP"));
  EXPECT_EQ(ReadAll(a + "0.sound"), ReadAll(out + "/a.str0.sound"));
  EXPECT_EQ(ReadAll(a + "1.sound"), ReadAll(out + "/a.str1.sound"));

  // Two inputs of one base name would share their outputs: nothing is written.
  std::filesystem::create_directory(dir.File("other"));
  const std::string twin = WriteTwoRateStream(dir, "other/a.str");
  run = RunCli({"convert", "-o", dir.File("fresh"), a, twin});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("would write the same files")) << run.err;
  EXPECT_FALSE(Exists(dir.File("fresh")));
}

// Every file below a folder, by its path there.
std::vector<std::string> TreeFiles(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) names.push_back(entry.path().lexically_relative(folder));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Folders are walked as the window walks a drop: two streams of one name in
// two folders stay apart, beside themselves or below -o at their place;
// hidden files, earlier outputs and files that are no stream are passed
// over, and a second run writes the same files again.
TEST(ConvertCommandTest, FoldersAreWalkedAndTheirOutputsKeepTheirPlaces) {
  TempDir dir;
  namespace fs = std::filesystem;
  const fs::path tree = dir.path() / "tree";
  fs::create_directories(tree / "disc1");
  fs::create_directories(tree / "disc2");
  WriteTwoRateStream(dir, "tree/disc1/intro.str");
  WriteTwoRateStream(dir, "tree/disc2/intro.str");
  WriteTwoRateStream(dir, "tree/.hidden.str");
  dir.Write("tree/notes.txt", Bytes{'n', 'o', 't', 'e', 's', '\n'});
  dir.Write("tree/old.str.MAP", PatternBytes(40, 1));
  fs::create_directory_symlink(tree / "disc1", tree / "link");
  const std::vector<std::string> inputs = TreeFiles(tree);

  const std::string lines =
      "tree/disc1/intro.str0.sound.wav\ntree/disc1/intro.str1.sound.wav\n"
      "tree/disc2/intro.str0.sound.wav\ntree/disc2/intro.str1.sound.wav\n";
  std::vector<std::string> beside = inputs;
  for (const char* name : {"disc1/intro.str0.sound.wav", "disc1/intro.str1.sound.wav",
                           "disc2/intro.str0.sound.wav", "disc2/intro.str1.sound.wav"})
    beside.push_back(name);
  std::sort(beside.begin(), beside.end());
  for (int run = 0; run < 2; ++run) {
    const CliRun cli = RunCli({"convert", "tree"}, dir.path());
    EXPECT_EQ(0, cli.status) << "run " << run;
    EXPECT_EQ(lines, cli.out);
    EXPECT_EQ("", cli.err);
    EXPECT_EQ(beside, TreeFiles(tree));
  }
  EXPECT_EQ(ReadAll(dir.File("tree/disc1/intro.str0.sound.wav")),
            ReadAll(dir.File("tree/disc2/intro.str0.sound.wav")));

  // Below -o, at the place the walk gives; the tree itself is left alone.
  CliRun cli = RunCli({"convert", "tree", "-o", "out"}, dir.path());
  EXPECT_EQ(0, cli.status) << cli.err;
  std::string below;
  for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
    below += "out/" + lines.substr(at, end + 1 - at);
  EXPECT_EQ(below, cli.out);
  EXPECT_EQ((std::vector<std::string>{"tree/disc1/intro.str0.sound.wav", "tree/disc1/intro.str1.sound.wav",
                                      "tree/disc2/intro.str0.sound.wav", "tree/disc2/intro.str1.sound.wav"}),
            TreeFiles(dir.path() / "out"));
  EXPECT_EQ(beside, TreeFiles(tree));

  // A folder without a stream converts nothing, and says so.
  std::filesystem::create_directory(tree / "empty");
  dir.Write("tree/empty/notes.txt", Bytes{'n'});
  cli = RunCli({"convert", "tree/empty"}, dir.path());
  EXPECT_EQ(1, cli.status);
  EXPECT_EQ("tree/empty: no chunk stream in the folder; nothing converted\n", cli.err);

  // A file named itself is still told when it is no stream.
  cli = RunCli({"convert", "tree/notes.txt", "tree"}, dir.path());
  EXPECT_EQ(1, cli.status);
  EXPECT_EQ("tree/notes.txt: not a chunk stream; skipped\n", cli.err);
}

// Two films at once beside two sounds, the file cut inside their chunks:
// the stream, each movie and each WAV it cut are named.
TEST(ConvertCommandTest, ACutStreamNamesEveryOutputItCut) {
  TempDir dir;
  FilmStreamOptions options;
  options.seconds = 1.0;
  options.together = true;
  Bytes bytes;
  WriteFilmStream(options, [&](const unsigned char* data, std::size_t count) {
    bytes.insert(bytes.end(), data, data + count);
  });
  const std::string path = dir.Write("cut.str", Bytes(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3));
  const CliRun run = RunCli({"convert", path});
  EXPECT_EQ(1, run.status);
  const std::string film = ": cut short: the file ends after ";
  const std::string sound =
      ".sound.wav: cut short with the stream (its last data 0.0 s of stream time before the cut)\n";
  EXPECT_EQ(path + ": cut short: the file ends inside the 'FILM' chunk at offset 98053\n" + path +
                "0.film.mkv" + film + "10 of the 15 frames its header counts; the movie holds them\n" + path +
                "1.film.mkv" + film + "9 of the 15 frames its header counts; the movie holds them\n" + path +
                "0" + sound + path + "1" + sound,
            run.err);
  for (const char* output : {"0.film.mkv", "1.film.mkv", "0.sound.wav", "1.sound.wav"})
    EXPECT_NE(std::string::npos, run.out.find(path + output + "\n")) << output;
}

TEST(ConvertCommandTest, NamesAreOneALineOrEndedByNul) {
  TempDir dir;
  const std::string path = WriteTwoRateStream(dir, "odd\nname\t.str");
  const std::string folder = dir.path().string();
  CliRun run = RunCli({"convert", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(folder + "/odd\\nname\\t.str0.sound.wav\n" + folder + "/odd\\nname\\t.str1.sound.wav\n", run.out);
  run = RunCli({"convert", "--null", path});
  EXPECT_EQ(0, run.status);
  std::string expected;
  for (const char* suffix : {"0.sound.wav", "1.sound.wav"}) expected.append(path + suffix).push_back('\0');
  EXPECT_EQ(expected, run.out);
  EXPECT_TRUE(Exists(path + "1.sound.wav"));
}

TEST(ConvertCommandTest, ShowsAProgressBarOnlyOnATerminal) {
  TempDir dir;
  const std::string a = WriteTwoRateStream(dir, "a.str");
  const std::string b = WriteTwoRateStream(dir, "b.str");
  const CliRun run = RunCli({"convert", a, b}, {}, true);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(WrittenLines(a) + WrittenLines(b), run.out);
  EXPECT_NE(std::string::npos, run.err.find("] 0/2 " + a + ": 0%"));
  EXPECT_NE(std::string::npos, run.err.find("] 1/2 " + b + ": 0%"));
  EXPECT_NE(std::string::npos, run.err.find("[########################] 2/2 done"));
}

TEST(MakeDemoCommandTest, TheDemoAnalysesIntoTwoStreamsThatDecodeCloseToTheMelody) {
  TempDir dir;
  // The folders it goes in are made; a failure names the file and the
  // system's reason, as convert does.
  const std::string blocker = dir.Write("blocker", Bytes{1});
  CliRun run = RunCli({"make-demo", blocker + "/demo.str"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(blocker + ": Not a directory\n", run.err);
  std::filesystem::create_directory(dir.File("samples"));
  EXPECT_EQ(dir.File("samples") + ": Is a directory\n", RunCli({"make-demo", dir.File("samples")}).err);
  const std::string path = dir.File("samples/new/demo.str");
  run = RunCli({"make-demo", path});
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
    const Bytes wav = ReadAll(sound + ".wav");
    EXPECT_EQ(22050u, LittleEndian32At(wav, 24));
    // convert decodes every byte: the padding that the window's road skips
    // comes out as silence before the melody.
    const std::size_t padding = 2 * kDemoPaddingBytes;
    const std::vector<std::int16_t> melody = DemoStreamMelody(options, stream);
    ASSERT_EQ(44 + padding + 2 * melody.size(), wav.size());
    EXPECT_EQ(Bytes(padding, 0), Bytes(wav.begin() + 44, wav.begin() + 44 + static_cast<long>(padding)));
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < melody.size(); ++i) {
      const std::size_t at = 44 + padding + 2 * i;
      const auto decoded = static_cast<std::int16_t>(wav[at] | wav[at + 1] << 8);
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
    if (idLength == 20) id = id.substr(0, 4) + "/" + id.substr(16);
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
  options.film.width = 32;
  options.film.height = 16;
  options.film.frameTicks = 10;
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
      soundBytes.back() += chunk.size - 24;
    }
  }
  EXPECT_EQ(options.rates, rates);
  for (std::size_t stream = 0; stream < rates.size(); ++stream) {
    EXPECT_EQ(kDemoPaddingBytes + 2 * DemoStreamFrames(options, stream), soundBytes[stream]);
  }
  EXPECT_GT(kinds["FILL"], 0);
  EXPECT_EQ(static_cast<int>(bytes.size() / options.blockSize), kinds["CTRL"]);

  options.blockSize = 1024;  // no room for the SSMP chunk
  EXPECT_THROW(WriteDemoStream(options, out), std::invalid_argument);
  options.blockSize = 8192;
  options.soundChunkData = 1001;  // a frame would be split
  EXPECT_THROW(WriteDemoStream(options, out), std::invalid_argument);
}

}  // namespace
}  // namespace morvane::test
