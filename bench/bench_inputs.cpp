#include "bench_inputs.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "audio/demo_stream.h"
#include "audio/sdx2.h"
#include "core/byte_file.h"
#include "core/support.h"

namespace morvane::bench {

namespace {

morvane::DemoStreamOptions Layout(std::vector<std::int32_t> rates, double seconds, std::size_t soundChunkData,
                                  const morvane::DemoFilmOptions& film, std::size_t blockSize) {
  morvane::DemoStreamOptions options;
  options.rates = std::move(rates);
  options.seconds = seconds;
  options.soundChunkData = soundChunkData;
  options.film = film;
  options.blockSize = blockSize;
  return options;
}

// Three sound streams, the first twice the rate of the others, so that sound
// file 0 is about 100 MB: SNDS/SSMP chunks of 8 KB of sound data, in blocks
// of 512 KB opened by CTRL and padded by FILL, and beside the first stream a
// 320x240 film of 16,000-byte frame chunks, one about every sound chunk
// (11/240 s). That is about 600 MB in about 51,000 chunks.
morvane::DemoStreamOptions StreamOptions(bool small) {
  return Layout({44100, 22050, 22050}, small ? 11.338 : 1133.8, 8192,
                {.width = 320, .height = 240, .frameTicks = 11, .chunkSize = 16000}, 512 * 1024);
}

// The Analyze File streams, one sound stream at 22050 Hz (44,100 bytes of
// sound data a second) each, and a 160x120 film beside it. Dense: 4 KB of
// sound data a chunk and an 8 KB frame chunk every 22/240 s, about one a
// sound chunk, in blocks of 14 KB opened by "CTRL" and padded by "FILL":
// about 3.5 KB a chunk. Sparse: 32 KB of sound data a chunk and a 250 KB
// frame chunk every 178/240 s, about one a sound chunk, no blocks: about
// 140 KB a chunk. Mixed: stretches of 10 MB of each shape in turn, each a
// sound stream and a film of its own.
morvane::DemoStreamOptions DenseOptions(double megabytes) {
  return Layout({22050}, megabytes * 1e6 * 4096 / (14 * 1024) / 44100, 4096,
                {.width = 160, .height = 120, .frameTicks = 22, .chunkSize = 8192}, 14 * 1024);
}

morvane::DemoStreamOptions SparseOptions(double megabytes) {
  return Layout({22050}, megabytes * 1e6 * 32768 / (32768 + 24 + 256000) / 44100, 32768,
                {.width = 160, .height = 120, .frameTicks = 178, .chunkSize = 256000}, 0);
}

struct Range {
  std::int64_t position, length;
};

std::uint32_t BigEndian(const unsigned char* at) { return static_cast<std::uint32_t>(ReadBigEndian32(at)); }

void AddLittleEndian(Digest& digest, std::uint32_t value) {
  unsigned char bytes[4];
  WriteLittleEndian32(bytes, value);
  digest.Add(bytes, 4);
}

// The walk that tells what the passes must write: the map's records, and the
// sound data that follows each sound header.
void WalkStream(const unsigned char* stream, std::int64_t size, Expected& expected,
                std::vector<Range>& firstSound) {
  Digest map;
  std::vector<Digest> sounds;
  for (std::int64_t at = 0; at + 8 <= size;) {
    const unsigned char* chunk = stream + at;
    const auto chunkSize = static_cast<std::int32_t>(BigEndian(chunk + 4));
    ++expected.chunks;
    if (std::memcmp(chunk, "SNDS", 4) == 0) {
      ++expected.snds;
      map.Add(chunk, 4);
      AddLittleEndian(map, static_cast<std::uint32_t>(chunkSize));
      const unsigned char* sub = chunk + 16;
      if (std::memcmp(sub, "SSMP", 4) == 0) {
        ++expected.ssmp;
        const std::uint32_t length = BigEndian(chunk + 20);
        map.Add(sub, 4);
        AddLittleEndian(map, static_cast<std::uint32_t>(at + 24));
        AddLittleEndian(map, length);
        if (!sounds.empty()) sounds.back().Add(chunk + 24, length);
        if (sounds.size() == 1) firstSound.push_back({at + 24, length});
      } else if (std::memcmp(sub, "SHDR", 4) == 0) {
        ++expected.shdr;
        map.Add(sub, 4);
        // Buffers, amplitude, balance; then sample size, rate, ratio; the
        // compression type as its bytes; channels, samples.
        for (const int offset : {24, 28, 32, 40, 44, 48}) AddLittleEndian(map, BigEndian(chunk + offset));
        map.Add(chunk + 52, 4);
        for (const int offset : {56, 60}) AddLittleEndian(map, BigEndian(chunk + offset));
        if (sounds.size() == 0) expected.wavRate = static_cast<std::int32_t>(BigEndian(chunk + 44));
        sounds.emplace_back();
      }
    } else if (std::memcmp(chunk, "SSND", 4) == 0) {
      ++expected.ssnd;
      map.Add(chunk, 4);
      AddLittleEndian(map, static_cast<std::uint32_t>(chunkSize));
      AddLittleEndian(map, static_cast<std::uint32_t>(at + 8));
    }
    if (chunkSize < 1) break;
    at += chunkSize;
  }
  expected.map = {static_cast<std::int64_t>(map.Length()), map.Value()};
  for (const Digest& sound : sounds) {
    expected.sounds.push_back({static_cast<std::int64_t>(sound.Length()), sound.Value()});
    expected.soundTotal += static_cast<std::int64_t>(sound.Length());
  }
}

// Sound file 0 as a 16-bit stereo WAV: the 44-byte header, then one decoded
// frame per byte pair from offset 140 on.
FileDigest WavOfFirstSound(const unsigned char* stream, const std::vector<Range>& ranges,
                           std::int64_t soundSize, std::int32_t rate) {
  constexpr std::int64_t kSkipped = 140;
  const std::int64_t frames = soundSize > kSkipped ? (soundSize - kSkipped) / 2 : 0;
  const auto dataSize = static_cast<std::uint32_t>(4 * frames);
  unsigned char header[44];
  std::memcpy(header, "RIFF", 4);
  WriteLittleEndian32(header + 4, dataSize + 36);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  WriteLittleEndian32(header + 16, 16);
  WriteLittleEndian16(header + 20, 1);
  WriteLittleEndian16(header + 22, 2);
  WriteLittleEndian32(header + 24, static_cast<std::uint32_t>(rate));
  WriteLittleEndian32(header + 28, static_cast<std::uint32_t>(rate) * 4);
  WriteLittleEndian16(header + 32, 4);
  WriteLittleEndian16(header + 34, 16);
  std::memcpy(header + 36, "data", 4);
  WriteLittleEndian32(header + 40, dataSize);
  Digest wav;
  wav.Add(header, sizeof header);

  Sdx2State state;
  std::int64_t offset = 0;
  std::int64_t decoded = 0;
  int pendingCount = 0;
  unsigned char pair[2];
  unsigned char out[4 * 1024];
  std::size_t outCount = 0;
  for (const Range& range : ranges) {
    for (std::int64_t i = 0; i < range.length; ++i, ++offset) {
      if (offset < kSkipped || decoded == frames) continue;
      pair[pendingCount++] = stream[range.position + i];
      if (pendingCount < 2) continue;
      pendingCount = 0;
      const Sdx2Frame frame = DecodeSdx2Frame(state, pair[0], pair[1]);
      WriteLittleEndian16(out + outCount, static_cast<std::uint16_t>(frame.sample1));
      WriteLittleEndian16(out + outCount + 2, static_cast<std::uint16_t>(frame.sample2));
      outCount += 4;
      ++decoded;
      if (outCount == sizeof out) {
        wav.Add(out, outCount);
        outCount = 0;
      }
    }
  }
  wav.Add(out, outCount);
  return {static_cast<std::int64_t>(wav.Length()), wav.Value()};
}

void WriteNoise(const std::string& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> words(1 << 17);
  std::uint64_t x = 0x9E3779B97F4A7C15u;
  for (std::int64_t left = size; left > 0;) {
    for (std::uint64_t& word : words) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      word = x;
    }
    const auto piece =
        static_cast<std::streamsize>(std::min<std::int64_t>(left, 8 * std::int64_t(words.size())));
    out.write(reinterpret_cast<const char*>(words.data()), piece);
    left -= piece;
  }
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

WalkShape MakeShape(const std::string& folder, const std::string& name,
                    const std::vector<morvane::DemoStreamOptions>& stretches) {
  WalkShape shape;
  shape.name = name;
  shape.file = name + ".str";
  const std::string path = folder + "/" + shape.file;
  {
    ByteFile file;
    file.Open(path, ByteFile::Mode::kCreate);
    if (stretches.empty()) {
      // One "CTRL" chunk and nothing else.
      unsigned char chunk[24] = {'C', 'T', 'R', 'L', 0, 0, 0, 24};
      file.Write(chunk, sizeof chunk);
    }
    for (const morvane::DemoStreamOptions& stretch : stretches) WriteDemoStream(stretch, file);
    file.Close();
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size == 0) throw std::runtime_error("cannot read " + path);
  void* mapped = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) throw std::runtime_error("cannot map " + path);
  Expected walked;
  std::vector<Range> unused;
  WalkStream(static_cast<const unsigned char*>(mapped), info.st_size, walked, unused);
  ::munmap(mapped, static_cast<std::size_t>(info.st_size));
  shape.size = info.st_size;
  shape.chunks = walked.chunks;
  shape.snds = walked.snds;
  shape.shdr = walked.shdr;
  shape.ssmp = walked.ssmp;
  shape.ssnd = walked.ssnd;
  shape.map = walked.map;
  return shape;
}

}  // namespace

Expected MakeInputs(const std::string& folder, bool small) {
  const std::string streamPath = folder + "/" + kStreamName;
  {
    ByteFile file;
    file.Open(streamPath, ByteFile::Mode::kCreate);
    WriteDemoStream(StreamOptions(small), file);
    file.Close();
  }

  Expected expected;
  const int fd = ::open(streamPath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size == 0)
    throw std::runtime_error("cannot read " + streamPath);
  expected.streamSize = info.st_size;
  void* mapped = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) throw std::runtime_error("cannot map " + streamPath);
  const auto* stream = static_cast<const unsigned char*>(mapped);
  std::vector<Range> firstSound;
  WalkStream(stream, info.st_size, expected, firstSound);
  if (expected.sounds.empty()) throw std::runtime_error("the stream holds no sound header");
  expected.wav = WavOfFirstSound(stream, firstSound, expected.sounds[0].length, expected.wavRate);
  ::munmap(mapped, static_cast<std::size_t>(info.st_size));

  WriteNoise(folder + "/" + kSoundCopyName, expected.soundTotal);
  WriteNoise(folder + "/" + kWavCopyName, expected.wav.length);

  const double megabytes = small ? 2 : 200;
  std::vector<morvane::DemoStreamOptions> mixed;
  for (double made = 0; made < megabytes; made += small ? 0.2 : 20) {
    mixed.push_back(DenseOptions(small ? 0.1 : 10));
    mixed.push_back(SparseOptions(small ? 0.1 : 10));
  }
  expected.shapes.push_back(MakeShape(folder, "start-up", {}));
  expected.shapes.push_back(MakeShape(folder, "dense", {DenseOptions(megabytes)}));
  expected.shapes.push_back(MakeShape(folder, "sparse", {SparseOptions(megabytes)}));
  expected.shapes.push_back(MakeShape(folder, "mixed", mixed));
  return expected;
}

void SaveExpected(const Expected& e, const std::string& path) {
  std::ofstream out(path, std::ios::trunc);
  out << "stream " << e.streamSize << "\nchunks " << e.chunks << "\nsnds " << e.snds << "\nshdr " << e.shdr
      << "\nssmp " << e.ssmp << "\nssnd " << e.ssnd << "\nmap " << e.map.length << " " << e.map.value
      << "\nsounds " << e.sounds.size();
  for (const FileDigest& sound : e.sounds) out << " " << sound.length << " " << sound.value;
  out << "\nrate " << e.wavRate << "\nwav " << e.wav.length << " " << e.wav.value << "\nshapes "
      << e.shapes.size() << "\n";
  for (const WalkShape& shape : e.shapes) {
    out << shape.name << " " << shape.file << " " << shape.size << " " << shape.chunks << " " << shape.snds
        << " " << shape.shdr << " " << shape.ssmp << " " << shape.ssnd << " " << shape.map.length << " "
        << shape.map.value << "\n";
  }
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

Expected LoadExpected(const std::string& path) {
  std::ifstream in(path);
  Expected e;
  std::string key;
  std::size_t count = 0;
  in >> key >> e.streamSize >> key >> e.chunks >> key >> e.snds >> key >> e.shdr >> key >> e.ssmp >> key >>
      e.ssnd >> key >> e.map.length >> e.map.value >> key >> count;
  e.sounds.resize(count);
  for (FileDigest& sound : e.sounds) {
    in >> sound.length >> sound.value;
    e.soundTotal += sound.length;
  }
  in >> key >> e.wavRate >> key >> e.wav.length >> e.wav.value >> key >> count;
  e.shapes.resize(count);
  for (WalkShape& shape : e.shapes) {
    in >> shape.name >> shape.file >> shape.size >> shape.chunks >> shape.snds >> shape.shdr >> shape.ssmp >>
        shape.ssnd >> shape.map.length >> shape.map.value;
  }
  if (!in) throw std::runtime_error("cannot read " + path + "; make the inputs first");
  return e;
}

}  // namespace morvane::bench
