// The batch converter over any stream bytes and any FORM file. Input: one
// byte of options (bit 0 keeps the raw data, bit 1 gives one rate for all,
// taken from the high bits), then the file. A sound header whose compression
// type begins with a byte below 8 draws its type by that byte from every
// type the codecs know and two they do not, and its sample size by the next
// byte. Every file written must be the
// one a plain model of the routing and the decoders gives, each movie must
// hold the frames, key flags and times and the sound the model gives it, no
// other file may appear, and the pass must call itself whole exactly when it
// told nothing.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "demux/stream_demux.h"
#include "film_model.h"
#include "fuzz_support.h"
#include "support/matroska_reader.h"
#include "support/sound_models.h"

namespace {

using morvane::fuzz::Bytes;

constexpr std::size_t kMostLive = 32;

struct ModelOutput {
  std::string compression;
  std::int64_t channels = 0, rate = 0, sampleSize = 0;
  Bytes data;
};

// The types a header may draw.
const std::string kDrawnTypes[8] = {"SDX2", "CBD2", "ADP4", "NONE", std::string(4, '\0'),
                                    "    ", "MAC3", "sdx2"};
const std::int32_t kDrawnSizes[4] = {8, 16, 16, 12};

// Rewrites the drawn headers of a chunk stream in place.
void DrawTypes(Bytes& file) {
  const std::size_t n = file.size();
  for (std::size_t pos = 0; pos + 8 <= n;) {
    const std::uint32_t size = std::uint32_t{file[pos + 4]} << 24 | std::uint32_t{file[pos + 5]} << 16 |
                               std::uint32_t{file[pos + 6]} << 8 | file[pos + 7];
    if (size < 8 || size > n - pos) return;
    if (pos + 56 <= n && std::equal(file.begin() + pos, file.begin() + pos + 4, "SNDS") &&
        std::equal(file.begin() + pos + 16, file.begin() + pos + 20, "SHDR") && file[pos + 52] < 8) {
      const std::int32_t bits = kDrawnSizes[file[pos + 53] & 3];
      std::copy_n(kDrawnTypes[file[pos + 52]].begin(), 4, file.begin() + pos + 52);
      for (int i = 0; i < 4; ++i) file[pos + 40 + i] = static_cast<unsigned char>(bits >> (24 - 8 * i));
    }
    pos += size;
  }
}

// The model's name of the codec that decodes the output, empty for none:
// SDX2 and CBD2 in mono and stereo, ADP4 in mono, uncompressed sound
// ("NONE", four zero bytes or blanks) of 8 or 16 bits in mono and stereo.
std::string ModelCodec(const ModelOutput& output, std::optional<std::int64_t> rate) {
  const std::int64_t used = rate ? *rate : output.rate;
  if (used <= 0 || output.channels < 1 || output.channels > 2) return "";
  const std::string& type = output.compression;
  if (type == "SDX2" || type == "CBD2") return type;
  if (type == "ADP4") return output.channels == 1 ? type : "";
  if (type == "NONE" || type == std::string(4, '\0') || type == "    ") {
    if (output.sampleSize == 16) return "PCM16";
    if (output.sampleSize == 8) return "PCM8";
  }
  return "";
}

// Sample frames in `bytes` bytes of the codec's data.
std::int64_t ModelFrames(const std::string& codec, std::int64_t channels, std::int64_t bytes) {
  if (codec == "ADP4") return 2 * bytes;
  if (codec == "PCM16") return bytes / (2 * channels);
  return bytes / channels;
}

struct Model {
  std::vector<ModelOutput> outputs;
  bool whole = true;
  morvane::fuzz::FilmModel films;
};

std::int64_t Signed32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
                                   std::uint32_t{b[at + 2]} << 8 | std::uint32_t{b[at + 3]});
}
std::int64_t Unsigned32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(Signed32(b, at));
}
std::string Id(const Bytes& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

bool Decoded(const ModelOutput& output, std::optional<std::int64_t> rate) {
  return !ModelCodec(output, rate).empty();
}

// Gives true when the walk ended early (a cut file, a size below 8).
bool ModelStream(const Bytes& file, Model& model, std::optional<std::int64_t> rate) {
  const auto n = static_cast<std::int64_t>(file.size());
  std::map<std::int64_t, std::optional<std::size_t>> live;
  for (std::int64_t pos = 0; pos < n;) {
    if (n - pos < 8) return model.whole = false, true;
    const std::int64_t size = Signed32(file, pos + 4);
    if (size < 8) return model.whole = false, true;
    if (Id(file, pos) == "SNDS") {
      if (n - pos < 20) return model.whole = false, true;
      const std::int64_t stream = Unsigned32(file, pos + 12) & 0xFFFF;
      const std::string sub = Id(file, pos + 16);
      model.films.TimeMet(Signed32(file, pos + 8));
      if (sub == "SHDR") {
        if (n - pos < 64) return model.whole = false, true;
        const std::size_t number = model.outputs.size();
        model.outputs.push_back({Id(file, pos + 52),
                                 Signed32(file, pos + 48),
                                 Signed32(file, pos + 44),
                                 Signed32(file, pos + 40),
                                 {}});
        live.erase(stream);
        if (live.size() >= kMostLive) {
          model.whole = false;
          model.outputs.back().compression.clear();  // no output at all
          live[stream] = std::nullopt;
        } else {
          live[stream] = number;
        }
      } else if (sub == "SSMP") {
        if (n - pos < 24) return model.whole = false, true;
        const std::int64_t length = Signed32(file, pos + 20);
        if (length < 0) {
          model.whole = false;
        } else {
          const auto target = live.find(stream);
          if (target == live.end()) model.whole = false;
          const std::int64_t available = std::min(length, n - (pos + 24));
          if (target != live.end() && target->second) {
            ModelOutput& output = model.outputs[*target->second];
            Bytes& data = output.data;
            const auto before = static_cast<std::int64_t>(data.size());
            data.insert(data.end(), file.begin() + pos + 24, file.begin() + pos + 24 + available);
            const auto after = static_cast<std::int64_t>(data.size());
            const std::string codec = ModelCodec(output, rate);
            const std::int64_t first = codec.empty() ? 0 : ModelFrames(codec, output.channels, before);
            model.films.SoundData(*target->second, !codec.empty(), rate ? *rate : output.rate,
                                  Signed32(file, pos + 8), first,
                                  codec.empty() ? 0 : ModelFrames(codec, output.channels, after) - first);
          }
          if (available < length) return model.whole = false, true;
        }
      }
    } else if (Id(file, pos) == "FILM" && size >= 20) {
      if (n - pos < 20 || !model.films.FilmChunk(file, pos, size)) return model.whole = false, true;
    }
    if (pos + size > n) return model.whole = false, true;
    pos += size;
  }
  return false;
}

std::int64_t ModelExtendedRate(const Bytes& b, std::size_t at) {
  if ((b[at] & 0x80) != 0) return 0;
  const int exponent = (b[at] & 0x7F) << 8 | b[at + 1];
  std::uint64_t mantissa = 0;
  for (std::size_t i = 2; i < 10; ++i) mantissa = mantissa << 8 | b[at + i];
  const long double value = std::ldexp(static_cast<long double>(mantissa), exponent - 16383 - 63);
  if (value >= 2147483648.0L) return 0;
  return std::llround(value);
}

void ModelForm(const Bytes& file, Model& model) {
  const auto n = static_cast<std::int64_t>(file.size());
  model.whole = false;
  if (n < 12) return;
  const std::string type = Id(file, 8);
  const bool aifc = type == "AIFC";
  if (!aifc && type != "AIFF") return;
  const std::int64_t end = std::min(n, 8 + Unsigned32(file, 4));
  std::optional<ModelOutput> comm;
  std::int64_t ssnd = -1, ssndSize = 0;
  for (std::int64_t pos = 12; pos + 8 <= end;) {
    const std::int64_t size = Unsigned32(file, pos + 4), body = pos + 8;
    if (Id(file, pos) == "COMM" && !comm) {
      const std::int64_t needed = aifc ? 22 : 18;
      if (size < needed || n - body < needed) return;
      comm = ModelOutput{aifc ? Id(file, body + 18) : "NONE",
                         file[body] << 8 | file[body + 1],
                         ModelExtendedRate(file, body + 8),
                         file[body + 6] << 8 | file[body + 7],
                         {}};
    } else if (Id(file, pos) == "SSND" && ssnd < 0) {
      ssnd = body;
      ssndSize = size;
    }
    pos = body + size + (size % 2);
  }
  if (!comm || ssnd < 0 || n - ssnd < 8) return;
  const std::int64_t start = ssnd + 8 + Unsigned32(file, ssnd);
  const std::int64_t length = std::max<std::int64_t>(0, ssnd + ssndSize - start);
  const std::int64_t copied = start < n ? std::min(length, n - start) : 0;
  comm->data.assign(file.begin() + std::min(start, n), file.begin() + std::min(start, n) + copied);
  model.outputs.push_back(*comm);
  model.whole = copied == length;
}

Model ModelFile(const Bytes& file, std::optional<std::int64_t> rate) {
  Model model;
  if (file.size() >= 4 && Id(file, 0) == "FORM") {
    ModelForm(file, model);
    return model;
  }
  bool printable = file.size() >= 8;
  for (std::size_t i = 0; printable && i < 4; ++i) printable = file[i] >= 0x20 && file[i] < 0x7F;
  if (!printable || Signed32(file, 4) < 8 || Signed32(file, 4) > static_cast<std::int64_t>(file.size())) {
    model.whole = false;
    return model;
  }
  model.films.Finish(ModelStream(file, model, rate));
  if (!model.films.whole) model.whole = false;
  // A walk that met no header and no other problem says so.
  if (model.outputs.empty() && !model.films.anyHeader) model.whole = false;
  return model;
}

// The WAV of a decoded output: 16-bit, or 8-bit with a pad byte after an
// odd number of samples.
Bytes ModelWav(const ModelOutput& output, const std::string& codec, std::int64_t rate) {
  const Bytes samples = morvane::test::ModelWavSamples(codec, static_cast<int>(output.channels), output.data);
  const auto channels = static_cast<std::uint32_t>(output.channels);
  const std::uint32_t bytesPerSample = codec == "PCM8" ? 1 : 2;
  const auto padded = static_cast<std::uint32_t>(samples.size() + samples.size() % 2);
  Bytes wav = {'R', 'I', 'F', 'F'};
  morvane::fuzz::AppendLittleEndian(wav, 36 + padded);
  for (const char c : std::string("WAVEfmt ")) wav.push_back(static_cast<unsigned char>(c));
  morvane::fuzz::AppendLittleEndian(wav, 16);
  morvane::fuzz::AppendLittleEndian(wav, 1 | channels << 16);
  morvane::fuzz::AppendLittleEndian(wav, static_cast<std::uint32_t>(rate));
  morvane::fuzz::AppendLittleEndian(wav, static_cast<std::uint32_t>(rate) * bytesPerSample * channels);
  morvane::fuzz::AppendLittleEndian(wav, bytesPerSample * channels | (8 * bytesPerSample) << 16);
  for (const char c : std::string("data")) wav.push_back(static_cast<unsigned char>(c));
  morvane::fuzz::AppendLittleEndian(wav, static_cast<std::uint32_t>(samples.size()));
  wav.insert(wav.end(), samples.begin(), samples.end());
  wav.resize(44 + padded, 0);
  return wav;
}

class CollectingSink : public morvane::ConvertSink {
 public:
  void Wrote(const std::string& path) override { written.insert(path); }
  void Tell(const std::string&, const std::string&) override { ++told; }
  std::set<std::string> written;
  int told = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvane;
  if (size < 1) return 0;
  const bool keepSound = (data[0] & 1) != 0;
  std::optional<std::int32_t> rate;
  if ((data[0] & 2) != 0) rate = (data[0] >> 2) * 1000 - 3000;
  Bytes file(data + 1, data + size);
  if (file.size() < 4 || !std::equal(file.begin(), file.begin() + 4, "FORM")) DrawTypes(file);

  static const std::string input = fuzz::InFolder("d");
  static const std::string base = fuzz::InFolder("o");
  for (const std::string& entry : fuzz::FolderEntries()) fuzz::RemoveInFolder(entry);
  fuzz::WriteWhole(input, file.data(), file.size());

  DemuxOptions options;
  options.outputBase = base;
  options.keepSound = keepSound;
  options.rate = rate;
  CollectingSink sink;
  const bool whole = DemuxFile(input, options, sink);

  Model model = ModelFile(file, rate);
  std::map<std::string, Bytes> expected;
  for (std::size_t n = 0; n < model.outputs.size(); ++n) {
    ModelOutput& output = model.outputs[n];
    if (output.compression.empty()) continue;  // skipped: too many streams at once
    const std::int64_t used = rate ? *rate : output.rate;
    const bool decoded = Decoded(output, rate);
    const std::string name = "o" + std::to_string(n) + ".sound";
    if (decoded) expected[name + ".wav"] = ModelWav(output, ModelCodec(output, rate), used);
    if (keepSound || !decoded) expected[name] = output.data;
    if (!decoded) model.whole = false;
  }
  for (const morvane::fuzz::ModelMovie& movie : model.films.movies) {
    expected["o" + std::to_string(movie.number) + ".film.mkv"] = {};
  }

  FUZZ_CHECK(whole == model.whole, std::string("whole: ") + (whole ? "yes" : "no"));
  FUZZ_CHECK(whole == (sink.told == 0), "told " + std::to_string(sink.told) + " problems");
  std::set<std::string> names = {"d"};
  std::set<std::string> written;
  for (const auto& [name, bytes] : expected) {
    names.insert(name);
    written.insert(fuzz::InFolder(name));
  }
  const auto entries = fuzz::FolderEntries();
  FUZZ_CHECK(std::set<std::string>(entries.begin(), entries.end()) == names,
             "files: " + std::to_string(entries.size()) + ", expected " + std::to_string(names.size()));
  FUZZ_CHECK(sink.written == written, "the names reported written");
  for (const auto& [name, bytes] : expected) {
    Bytes got;
    FUZZ_CHECK(fuzz::ReadWhole(fuzz::InFolder(name), got), name);
    if (!name.ends_with(".mkv")) FUZZ_CHECK(got == bytes, name + " differs from the model's");
  }
  for (const fuzz::ModelMovie& want : model.films.movies) {
    const std::string name = "o" + std::to_string(want.number) + ".film.mkv";
    Bytes bytes;
    FUZZ_CHECK(fuzz::ReadWhole(fuzz::InFolder(name), bytes), name);
    const test::MkvFile movie = test::ReadMatroska(bytes);
    FUZZ_CHECK(movie.problem.empty(), name + ": " + movie.problem);
    const auto frames = movie.BlocksOf(1);
    FUZZ_CHECK(frames.size() == want.frames.size(), name + ": " + std::to_string(frames.size()) + " frames");
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::string which = name + " frame " + std::to_string(i);
      FUZZ_CHECK(frames[i]->data == want.frames[i].data, which + ": its bytes");
      FUZZ_CHECK(frames[i]->key == want.frames[i].key, which + ": its key flag");
      FUZZ_CHECK(frames[i]->ms == want.frames[i].ms, which + ": its time " + std::to_string(frames[i]->ms));
    }
    FUZZ_CHECK(movie.tracks.size() == want.tracks.size() + 1, name + ": the tracks");
    std::size_t t = 1;
    for (const auto& [sound, blocks] : want.tracks) {
      const ModelOutput& output = model.outputs[sound];
      const Bytes samples =
          test::ModelSamples(ModelCodec(output, rate), static_cast<int>(output.channels), output.data);
      const auto frameBytes = static_cast<std::size_t>(2 * output.channels);
      const auto got = movie.BlocksOf(movie.tracks[t++].number);
      FUZZ_CHECK(got.size() == blocks.size(), name + ": the blocks of sound " + std::to_string(sound));
      for (std::size_t b = 0; b < blocks.size(); ++b) {
        const std::string which = name + " sound " + std::to_string(sound) + " block " + std::to_string(b);
        FUZZ_CHECK(got[b]->ms == blocks[b].ms, which + ": its time " + std::to_string(got[b]->ms));
        FUZZ_CHECK(got[b]->data == Bytes(samples.begin() + blocks[b].from * frameBytes,
                                         samples.begin() + blocks[b].to * frameBytes),
                   which + ": its samples");
      }
    }
  }
  return 0;
}
