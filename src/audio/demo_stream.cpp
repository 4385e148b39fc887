#include "audio/demo_stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <stdexcept>

#include "audio/sdx2_encoder.h"
#include "core/byte_file.h"
#include "core/support.h"

namespace morvane {

namespace {

// --- the melody ---

// Ode to Joy, both phrases, eight seconds that loop: the lead in semitones
// above C5 with its length in steps of an eighth of a second, and the bass
// root of every half second in semitones above C3.
constexpr double kStepSeconds = 0.125;
constexpr double kBassSeconds = 0.5;
struct Note {
  int semitones;
  int steps;
};
constexpr Note kLead[] = {
    {4, 2}, {4, 2}, {5, 2}, {7, 2}, {7, 2}, {5, 2}, {4, 2}, {2, 2}, {0, 2}, {0, 2},
    {2, 2}, {4, 2}, {4, 3}, {2, 1}, {2, 4}, {4, 2}, {4, 2}, {5, 2}, {7, 2}, {7, 2},
    {5, 2}, {4, 2}, {2, 2}, {0, 2}, {0, 2}, {2, 2}, {4, 2}, {2, 3}, {0, 1}, {0, 4},
};
constexpr int kBass[] = {0, 0, -5, -5, 0, 0, -5, -5, 0, 0, -5, -5, 0, 0, -5, 0};
constexpr std::size_t kTuneSteps = 64;
constexpr double kTuneSeconds = kStepSeconds * kTuneSteps;
static_assert(kTuneSeconds == kBassSeconds * std::size(kBass));
constexpr double kC5 = 523.2511;
constexpr double kC3 = 130.8128;
constexpr double kLeadAmplitude = 9000;
constexpr double kBassAmplitude = 7000;

// For every step of the tune, the lead note sounding then.
struct Sounding {
  double frequency = 0;
  double start = 0;  // seconds into the tune
  double length = 0;
};
const std::array<Sounding, kTuneSteps>& LeadSteps() {
  static const std::array<Sounding, kTuneSteps> steps = [] {
    std::array<Sounding, kTuneSteps> table{};
    std::size_t step = 0;
    for (const Note& note : kLead) {
      const Sounding sounding{kC5 * std::exp2(note.semitones / 12.0),
                              static_cast<double>(step) * kStepSeconds, note.steps * kStepSeconds};
      for (int i = 0; i < note.steps; ++i) table.at(step++) = sounding;
    }
    if (step != kTuneSteps) throw std::logic_error("the tune does not fill its steps");
    return table;
  }();
  return steps;
}

const std::array<double, std::size(kBass)>& BassFrequencies() {
  static const std::array<double, std::size(kBass)> frequencies = [] {
    std::array<double, std::size(kBass)> table{};
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = kC3 * std::exp2(kBass[i] / 12.0);
    return table;
  }();
  return frequencies;
}

// Each channel carries most of one voice and a little of the other.
constexpr double kNearShare = 0.75;
constexpr double kFarShare = 0.25;

// A sine of one cycle in a table, read with linear interpolation: the melody
// has to be cheap enough for streams of hundreds of megabytes.
constexpr std::size_t kSineSize = 4096;
const std::array<double, kSineSize + 1>& SineTable() {
  static const std::array<double, kSineSize + 1> table = [] {
    std::array<double, kSineSize + 1> values{};
    for (std::size_t i = 0; i <= kSineSize; ++i) {
      values[i] = std::sin(2 * std::numbers::pi * static_cast<double>(i) / kSineSize);
    }
    return values;
  }();
  return table;
}

double Sine(double cycles) {
  const double phase = (cycles - std::floor(cycles)) * kSineSize;
  const auto index = static_cast<std::size_t>(phase);
  const double fraction = phase - static_cast<double>(index);
  const auto& table = SineTable();
  return table[index] + (table[index + 1] - table[index]) * fraction;
}

// A quick rise, a slow fall, and a short release so that notes never click.
double Envelope(double at, double length) {
  constexpr double kAttack = 0.005;
  constexpr double kRelease = 0.01;
  const double body = 1.0 - 0.5 * at / length;
  return std::max(0.0, std::min({at / kAttack, (length - at) / kRelease, body}));
}

std::int16_t ToSample(double value) {
  return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

// --- the chunks ---

constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kShdrChunkSize = 64;
constexpr std::size_t kSsmpHeaderSize = 24;  // the sound data starts here
constexpr std::size_t kCtrlChunkSize = 24;
// Chunk times count ticks of the audio clock, 240 a second.
constexpr double kTicksPerSecond = 240;

struct SoundHeader {
  std::int32_t version = 0, buffers = 8, amplitude = 0x7FFF, balance = 0;
  std::int32_t sampleSize = 16, sampleRate = 22050, compressionRatio = 2, channels = 2, samples = 0;
};

// Writes chunks to the sink and keeps the block layout: each block opens
// with a "CTRL" chunk, and a group of chunks that would not fit in what is
// left of a block goes to the next one after a "FILL" chunk. Every chunk
// leaves either nothing or room for at least a chunk header in its block,
// so a "FILL" chunk always fits.
class ChunkWriter {
 public:
  ChunkWriter(const ByteSink& sink, std::size_t blockSize) : sink_(sink), blockSize_(blockSize) {}

  void Write(const unsigned char* bytes, std::size_t count) {
    sink_(bytes, count);
    position_ += count;
  }

  void Zeros(std::size_t count) {
    static const std::array<unsigned char, 4096> zeros{};
    while (count > 0) {
      const std::size_t piece = std::min(count, zeros.size());
      Write(zeros.data(), piece);
      count -= piece;
    }
  }

  void Header(const char (&id)[5], std::size_t size) {
    unsigned char header[kChunkHeaderSize];
    WriteId(header, id);
    WriteBigEndian32(header + 4, static_cast<std::uint32_t>(size));
    Write(header, sizeof header);
  }

  // Makes room in the present block for a group of chunks of `size` bytes.
  void Fit(std::size_t size, std::int32_t time) {
    if (blockSize_ == 0) return;
    if (InBlock() == 0) Ctrl(time);
    const std::size_t left = blockSize_ - InBlock();
    if (size == left || size + kChunkHeaderSize <= left) return;
    Fill(left);
    Ctrl(time);
  }

  // Pads the last block to its end.
  void Finish() {
    if (blockSize_ != 0 && InBlock() != 0) Fill(blockSize_ - InBlock());
  }

 private:
  std::size_t InBlock() const { return static_cast<std::size_t>(position_ % blockSize_); }

  void Ctrl(std::int32_t time) {
    unsigned char body[kCtrlChunkSize - kChunkHeaderSize] = {};
    WriteBigEndian32(body, static_cast<std::uint32_t>(time));
    WriteId(body + 4, "SYNC");
    Header("CTRL", kCtrlChunkSize);
    Write(body, sizeof body);
  }

  void Fill(std::size_t size) {
    Header("FILL", size);
    Zeros(size - kChunkHeaderSize);
  }

  const ByteSink& sink_;
  std::size_t blockSize_;
  std::uint64_t position_ = 0;
};

void WriteSoundHeader(ChunkWriter& writer, std::int32_t time, std::int32_t stream, const SoundHeader& h) {
  unsigned char body[kShdrChunkSize - kChunkHeaderSize];
  unsigned char* at = body;
  auto number = [&at](std::int32_t value) {
    WriteBigEndian32(at, static_cast<std::uint32_t>(value));
    at += 4;
  };
  auto id = [&at](const char(&text)[5]) {
    WriteId(at, text);
    at += 4;
  };
  number(time);
  number(stream);
  id("SHDR");
  number(h.version);
  number(h.buffers);
  number(h.amplitude);
  number(h.balance);
  id("SDX2");  // data format
  number(h.sampleSize);
  number(h.sampleRate);
  number(h.channels);
  id("SDX2");  // compression type
  number(h.compressionRatio);
  number(h.samples);
  writer.Header("SNDS", kShdrChunkSize);
  writer.Write(body, sizeof body);
}

void WriteFilmChunk(ChunkWriter& writer, const std::vector<unsigned char>& chunk, std::int32_t time) {
  writer.Fit(chunk.size(), time);
  writer.Write(chunk.data(), chunk.size());
}

void WriteSsmp(ChunkWriter& writer, std::int32_t time, std::int32_t stream,
               const std::vector<std::uint8_t>& data) {
  unsigned char body[kSsmpHeaderSize - kChunkHeaderSize];
  WriteBigEndian32(body, static_cast<std::uint32_t>(time));
  WriteBigEndian32(body + 4, static_cast<std::uint32_t>(stream));
  WriteId(body + 8, "SSMP");
  WriteBigEndian32(body + 12, static_cast<std::uint32_t>(data.size()));
  writer.Header("SNDS", kSsmpHeaderSize + data.size());
  writer.Write(body, sizeof body);
  writer.Write(data.data(), data.size());
}

void CheckOptions(const DemoStreamOptions& options) {
  if (options.rates.empty()) throw std::invalid_argument("a demo stream needs at least one sound stream");
  for (const std::int32_t rate : options.rates) {
    if (rate <= 0) throw std::invalid_argument("sample rates must be positive");
  }
  if (!(options.seconds >= 0) || options.seconds > 1e6) throw std::invalid_argument("bad length in seconds");
  // Even, so that no frame is split between two chunks.
  if (options.soundChunkData < 2 || options.soundChunkData % 2 != 0 ||
      options.soundChunkData > std::numeric_limits<std::int32_t>::max() / 2) {
    throw std::invalid_argument("the sound data of a chunk must be a positive even size");
  }
  CheckDemoFilm(options.film);
  const std::size_t group = std::max(
      {kShdrChunkSize, kSsmpHeaderSize + options.soundChunkData, DemoFilmLargestChunk(options.film)});
  if (options.blockSize != 0 && options.blockSize < kCtrlChunkSize + group + kChunkHeaderSize) {
    throw std::invalid_argument("the blocks are too small for the chunks");
  }
}

std::int32_t Ticks(double seconds) { return static_cast<std::int32_t>(seconds * kTicksPerSecond); }

double StreamOffsetSeconds(const DemoStreamOptions& options, std::size_t stream) {
  return options.seconds * static_cast<double>(stream);
}

}  // namespace

std::size_t DemoStreamFrames(const DemoStreamOptions& options, std::size_t stream) {
  return static_cast<std::size_t>(std::llround(options.seconds * options.rates.at(stream)));
}

void DemoMelodyFrames(std::int32_t rate, double offsetSeconds, std::int64_t firstFrame, std::size_t frames,
                      std::int16_t* interleaved) {
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = offsetSeconds + static_cast<double>(firstFrame + static_cast<std::int64_t>(i)) / rate;
    const double inTune = std::fmod(t, kTuneSeconds);
    const Sounding& note =
        LeadSteps()[std::min(static_cast<std::size_t>(inTune / kStepSeconds), kTuneSteps - 1)];
    const double inNote = inTune - note.start;
    const auto half = std::min(static_cast<std::size_t>(inTune / kBassSeconds), std::size(kBass) - 1);
    const double inHalf = inTune - static_cast<double>(half) * kBassSeconds;

    const double leadCycles = note.frequency * inNote;
    const double lead =
        kLeadAmplitude * Envelope(inNote, note.length) * (Sine(leadCycles) + 0.25 * Sine(2 * leadCycles));
    const double bass =
        kBassAmplitude * Envelope(inHalf, kBassSeconds) * Sine(BassFrequencies()[half] * inHalf);
    interleaved[2 * i] = ToSample(kNearShare * lead + kFarShare * bass);
    interleaved[2 * i + 1] = ToSample(kFarShare * lead + kNearShare * bass);
  }
}

std::vector<std::int16_t> DemoStreamMelody(const DemoStreamOptions& options, std::size_t stream) {
  const std::size_t frames = DemoStreamFrames(options, stream);
  std::vector<std::int16_t> pcm(2 * frames);
  DemoMelodyFrames(options.rates.at(stream), StreamOffsetSeconds(options, stream), 0, frames, pcm.data());
  return pcm;
}

void WriteDemoStream(const DemoStreamOptions& options, const ByteSink& sink) {
  CheckOptions(options);
  ChunkWriter writer(sink, options.blockSize);
  DemoFilm film(options.film, options.seconds);
  std::size_t nextFrame = 0;
  // The film's frames up to `time`, in their place among the sound chunks.
  auto framesUpTo = [&](std::int64_t time) {
    for (; nextFrame < film.FrameCount() && film.FrameTime(nextFrame) <= time; ++nextFrame)
      WriteFilmChunk(writer, film.FrameChunk(nextFrame), film.FrameTime(nextFrame));
  };
  if (film.FrameCount() > 0) WriteFilmChunk(writer, film.HeaderChunk(), 0);
  std::vector<std::int16_t> pcm;
  std::vector<std::uint8_t> data;
  for (std::size_t stream = 0; stream < options.rates.size(); ++stream) {
    const std::int32_t rate = options.rates[stream];
    const auto streamNumber = static_cast<std::int32_t>(stream);
    const double offset = StreamOffsetSeconds(options, stream);
    const std::size_t frames = DemoStreamFrames(options, stream);
    const std::uint64_t soundBytes = kDemoPaddingBytes + 2 * std::uint64_t{frames};

    SoundHeader header;
    header.sampleRate = rate;
    header.samples = static_cast<std::int32_t>(soundBytes / 2);
    writer.Fit(kShdrChunkSize, Ticks(offset));
    WriteSoundHeader(writer, Ticks(offset), streamNumber, header);

    // The decoder starts every conversion from silent channels at byte 140,
    // which is where the encoding of the melody starts too.
    Sdx2State encoder;
    std::int64_t frame = 0;
    for (std::uint64_t sent = 0; sent < soundBytes;) {
      const auto size =
          static_cast<std::size_t>(std::min<std::uint64_t>(options.soundChunkData, soundBytes - sent));
      const std::size_t padding =
          sent < kDemoPaddingBytes
              ? std::min<std::size_t>(size, kDemoPaddingBytes - static_cast<std::size_t>(sent))
              : 0;
      const std::size_t pieceFrames = (size - padding) / 2;
      pcm.resize(2 * pieceFrames);
      DemoMelodyFrames(rate, offset, frame, pieceFrames, pcm.data());
      data.assign(padding, 0);
      const std::vector<std::uint8_t> encoded = EncodeSdx2(pcm.data(), pieceFrames, encoder);
      data.insert(data.end(), encoded.begin(), encoded.end());

      const std::int32_t time = Ticks(offset + static_cast<double>(frame) / rate);
      if (stream == 0) framesUpTo(time);
      writer.Fit(kSsmpHeaderSize + size, time);
      WriteSsmp(writer, time, streamNumber, data);
      sent += size;
      frame += static_cast<std::int64_t>(pieceFrames);
    }
    // The film ends with the first sound stream.
    if (stream == 0) framesUpTo(std::numeric_limits<std::int64_t>::max());
  }
  writer.Finish();
}

void WriteDemoStream(const DemoStreamOptions& options, ByteFile& file) {
  WriteDemoStream(options,
                  [&file](const unsigned char* bytes, std::size_t count) { file.Write(bytes, count); });
}

void WriteDemoStream(const DemoStreamOptions& options, std::ostream& out) {
  WriteDemoStream(options, [&out](const unsigned char* bytes, std::size_t count) {
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  });
}

}  // namespace morvane
