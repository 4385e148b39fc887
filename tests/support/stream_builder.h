#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace morvane::test {

using Bytes = std::vector<unsigned char>;

// Builds chunk streams from bytes: numbers big-endian, as the stream stores them.
class StreamBuilder {
 public:
  // Appends any chunk: id, big-endian size (as given), then the body.
  StreamBuilder& Chunk(const std::string& id, std::int32_t size, const Bytes& body = {});
  // A chunk whose size counts its header and body.
  StreamBuilder& Sized(const std::string& id, const Bytes& body);
  // "SNDS" with an "SSMP" sub-chunk holding data; size 24 + data unless given.
  StreamBuilder& Ssmp(const Bytes& data, std::int32_t time = 0, std::int32_t stream = 0);
  // "SNDS" of size 64 with an "SHDR" sub-chunk.
  struct Header {
    std::int32_t version = 0, buffers = 1, amplitude = 100, balance = 0;
    std::string dataFormat = "SDX2";
    std::int32_t sampleSize = 16, sampleRate = 22050, compressionRatio = 2;
    std::string compressionType = "SDX2";
    std::int32_t channels = 2, samples = 0, time = 0, stream = 0;
  };
  StreamBuilder& Shdr(const Header& header);
  // "FILM" with an "FHDR" sub-chunk; `word` is the channel and its flags.
  struct FilmHeader {
    std::string compression = "cvid";
    std::int32_t width = 160, height = 120, timeScale = 240, frameCount = 0, time = 0;
    std::uint32_t word = 0;
  };
  StreamBuilder& Fhdr(const FilmHeader& header);
  // "FILM" with a frame: "FRME" or "DFRM", its duration, its size (the
  // data's unless given), the data and padding after it.
  struct Frame {
    Bytes data;
    std::int32_t time = 0, duration = 20;
    std::uint32_t word = 0;
    std::string kind = "FRME";
    std::size_t padding = 0;
    std::int32_t frameSize = -1;  // -1: the data's size
  };
  StreamBuilder& FilmFrame(const Frame& frame);
  StreamBuilder& Raw(const Bytes& bytes);

  const Bytes& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

 private:
  Bytes bytes_;
};

// A sound header of the given stream number, rate, channels and compression.
StreamBuilder::Header Header(std::int32_t stream, std::int32_t rate, std::int32_t channels = 2,
                             const std::string& compression = "SDX2");

// An IFF audio file: "FORM", an FVER chunk, COMM (in an AIFC form with the
// compression type and an empty name), then SSND with its offset, block
// size 0 and the data; the rate as an 80-bit extended number.
struct IffAudio {
  std::string formType = "AIFC";
  std::int16_t channels = 2;
  std::uint32_t rate = 22050;
  std::string compression = "SDX2";
  std::uint32_t ssndOffset = 0;  // bytes skipped before the data
  Bytes data;
};
Bytes IffAudioFile(const IffAudio& audio);

// Builds map contents: kinds as their bytes, numbers little-endian.
class MapBuilder {
 public:
  MapBuilder& Snds(std::int32_t size = 64);
  MapBuilder& Ssmp(std::int32_t position, std::int32_t length);
  // The nine values the analysis keeps of the header.
  MapBuilder& Shdr(const StreamBuilder::Header& header = {});
  MapBuilder& Ssnd(std::int32_t size, std::int32_t bodyPosition);
  MapBuilder& Raw(const Bytes& raw);
  MapBuilder& Id(const std::string& id);
  MapBuilder& Value(std::int32_t value);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

void AppendBigEndian32(Bytes& out, std::int32_t value);
void AppendLittleEndian32(Bytes& out, std::int32_t value);
void AppendId(Bytes& out, const std::string& id);  // 4 bytes, zero padded

// The parts one after another.
Bytes Concat(std::initializer_list<Bytes> parts);

// count bytes from from on.
Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count);

// Deterministic pseudo-random bytes.
Bytes PatternBytes(std::size_t count, std::uint32_t seed);

// A frame laid out as Cinepak's: its 10-byte header, then `strips` strips of
// `stripBytes` pattern bytes each behind their 12-byte headers (an id byte,
// intra-coded 0x10 or not 0x11, and a 24-bit size: a strip may pass 64 KiB).
// Each strip draws one 4x4 block below the one before from a chunk of V1
// vectors over its pattern bytes, so that from 5 bytes a strip on the frame
// decodes whole (black, from codebooks never loaded): for the routing, the
// key frames and the posters, not for the pictures.
Bytes CinepakLikeFrame(bool intra, std::size_t strips, std::size_t stripBytes, std::uint32_t seed);

}  // namespace morvane::test
