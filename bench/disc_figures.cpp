#include "disc_figures.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "audio/demo_stream.h"
#include "digest.h"
#include "disc/disc_writer.h"
#include "processes.h"
#include "support/film_stream.h"
#include "support/stream_builder.h"

namespace morvane::bench {

namespace {

namespace fs = std::filesystem;

constexpr char kFiles[] = "disc-files";
constexpr std::size_t kBlock = 2048;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// The tree: films of large frames, two films at once, sound streams, and
// files that are no stream, in folders two deep.
std::vector<std::pair<std::string, std::function<void(std::ofstream&)>>> Tree(bool small) {
  const double scale = small ? 0.01 : 1.0;
  std::vector<std::pair<std::string, std::function<void(std::ofstream&)>>> tree;
  const auto write = [](std::ofstream& out) {
    return [&out](const unsigned char* bytes, std::size_t count) {
      out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    };
  };
  for (int n = 0; n < 6; ++n) {
    test::FilmStreamOptions film;
    film.films = n % 3 == 2 ? 2 : 1;
    film.together = film.films == 2;
    film.frameBytes = film.together ? 2000 : 12000;
    film.seconds = (film.together ? 500 : 330) * scale;
    tree.emplace_back("MOVIES/PART" + std::to_string(n / 3) + "/CUT0" + std::to_string(n) + ".STR",
                      [film, write](std::ofstream& out) { test::WriteFilmStream(film, write(out)); });
  }
  for (int n = 0; n < 4; ++n) {
    DemoStreamOptions sound;
    sound.seconds = 240 * scale;
    sound.rates = {22050, 22050};
    sound.film.frameTicks = 0;
    tree.emplace_back("MUSIC/TRACK" + std::to_string(n),
                      [sound, write](std::ofstream& out) { WriteDemoStream(sound, write(out)); });
  }
  for (int n = 0; n < 4; ++n) {
    const auto bytes = static_cast<std::size_t>(20e6 * scale);
    tree.emplace_back("DATA/PACK" + std::to_string(n) + ".DAT", [bytes, n](std::ofstream& out) {
      const test::Bytes piece = test::PatternBytes(1 << 20, static_cast<std::uint32_t>(n));
      for (std::size_t done = 0; done < bytes; done += piece.size())
        out.write(reinterpret_cast<const char*>(piece.data()),
                  static_cast<std::streamsize>(std::min(piece.size(), bytes - done)));
    });
  }
  return tree;
}

// Copies a file's bytes into the image, padded to whole blocks; in raw
// sectors when `sectors` counts them (their sync and header before each
// block, zeros for the error correction after it).
class ImageOut {
 public:
  ImageOut(const std::string& path, bool raw) : out_(path, std::ios::binary | std::ios::trunc), raw_(raw) {}
  void Blocks(const std::vector<unsigned char>& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kBlock)
      Block(bytes.data() + at, std::min(kBlock, bytes.size() - at));
  }
  void File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(kBlock);
    while (in.read(block.data(), static_cast<std::streamsize>(kBlock)) || in.gcount() > 0)
      Block(reinterpret_cast<const unsigned char*>(block.data()), static_cast<std::size_t>(in.gcount()));
  }
  std::int64_t Sectors() const { return sectors_; }
  void Finish() { Check(static_cast<bool>(out_.flush()), "cannot write an image"); }

 private:
  void Block(const unsigned char* data, std::size_t count) {
    static const unsigned char kSync[16] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0,    0,    2,    0,    1};
    static const char kZeros[kBlock] = {};
    if (raw_) out_.write(reinterpret_cast<const char*>(kSync), sizeof kSync);
    out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
    out_.write(kZeros, static_cast<std::streamsize>(kBlock - count));
    if (raw_) out_.write(kZeros, 288);
    ++sectors_;
  }
  std::ofstream out_;
  bool raw_;
  std::int64_t sectors_ = 0;
};

std::map<std::string, FileDigest> DigestsBelow(const fs::path& folder) {
  std::map<std::string, FileDigest> digests;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      digests[entry.path().lexically_relative(folder).string()] = DigestOfFile(entry.path().string());
  }
  return digests;
}

}  // namespace

void MakeDiscInputs(const std::string& folder, bool small) {
  const fs::path files = fs::path(folder) / kFiles;
  std::vector<DiscHeadFile> sizes;
  for (const auto& [path, write] : Tree(small)) {
    fs::create_directories((files / path).parent_path());
    std::ofstream out(files / path, std::ios::binary | std::ios::trunc);
    write(out);
    Check(static_cast<bool>(out.flush()), "cannot write " + path);
    sizes.push_back({path, static_cast<std::int64_t>(fs::file_size(files / path))});
  }
  const DiscHead head = DiscImageHead("BENCH DISC", sizes);
  for (const bool raw : {false, true}) {
    ImageOut image(folder + (raw ? "/disc.bin" : "/disc.iso"), raw);
    image.Blocks(head.bytes);
    for (const DiscHeadFile& file : sizes) image.File((files / file.path).string());
    image.Finish();
  }
  std::ofstream cue(folder + "/disc.cue", std::ios::trunc);
  cue << "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  Check(static_cast<bool>(cue.flush()), "cannot write disc.cue");
}

std::vector<Row> MeasureDisc(const std::string& folder, const std::string& cli, int runs,
                             const std::function<void(const std::string&)>& progress) {
  const std::string out = folder + "/last-stdout.txt", err = folder + "/last-stderr.txt";
  const auto timed = [&](const std::vector<std::string>& argv, const std::string& what) {
    RunProcess({"sync"}, "", "");
    const ProcessRun done = RunProcess(argv, out, err);
    Check(done.exitCode == 0,
          what + " failed (exit " + std::to_string(done.exitCode) + "): " + ReadText(err));
    return done;
  };
  const fs::path outFiles = fs::path(folder) / "out-files", outIso = fs::path(folder) / "out-iso",
                 outCue = fs::path(folder) / "out-cue";
  Samples files, iso, cue;
  std::map<std::string, FileDigest> expected;
  RunProcess({"cat", folder + "/disc.iso", folder + "/disc.bin"}, "/dev/null", "");  // a warm page cache
  // Each convert writes into an empty page cache's worth of room: the
  // outputs of the one before are checked and removed first, as 1.2 GB of
  // them left behind would make the next one pay for their reclaim.
  const auto convert = [&](const fs::path& place, const std::string& input, const fs::path& outputs,
                           const std::string& what) {
    fs::remove_all(place);
    const ProcessRun done = timed({cli, "convert", "-o", place.string(), input}, what);
    const std::map<std::string, FileDigest> got = DigestsBelow(outputs);
    if (expected.empty()) {
      expected = got;
      Check(expected.size() >= 10, what + " wrote too few outputs");
    }
    Check(got.size() == expected.size(), what + ": another number of outputs than the unpacked files'");
    for (const auto& [name, digest] : expected) {
      const auto found = got.find(name);
      Check(
          found != got.end() && found->second.length == digest.length && found->second.value == digest.value,
          what + ": " + name + " differs from the unpacked file's output");
    }
    fs::remove_all(place);
    return done.seconds;
  };
  for (int i = 0; i <= runs; ++i) {
    progress(std::string("convert of a disc image, ") + (i > 0 ? "run " + std::to_string(i) : "warm-up"));
    const double fromFiles =
        convert(outFiles, folder + "/" + kFiles, outFiles / kFiles, "convert of the files unpacked");
    const double fromIso = convert(outIso, folder + "/disc.iso", outIso / "disc", "convert of disc.iso");
    const double fromCue = convert(outCue, folder + "/disc.cue", outCue / "disc", "convert of disc.cue");
    if (i == 0) continue;
    files.Add(fromFiles);
    iso.Add(fromIso);
    cue.Add(fromCue);
  }
  for (const fs::path& place : {outFiles, outIso, outCue}) fs::remove_all(place);
  const double megabytes = static_cast<double>(fs::file_size(folder + "/disc.iso")) / kMegabyte;
  const std::string reference = "convert of its files unpacked";
  std::vector<Row> rows = {
      TimeRow("convert of a " + Format("%.0f MB", megabytes) + " disc image of 2048-byte blocks", iso,
              reference, files, 1.25, true),
      TimeRow("convert of the same disc in raw 2352-byte sectors, from its cue sheet", cue, reference, files,
              1.25, true)};
  for (Row& row : rows) row.target = "≤ 1.25×";
  return rows;
}

}  // namespace morvane::bench
