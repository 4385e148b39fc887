#include "support/stream_builder.h"

namespace morvane::test {

void AppendBigEndian32(Bytes& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void AppendLittleEndian32(Bytes& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift <= 24; shift += 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void AppendId(Bytes& out, const std::string& id) {
  for (std::size_t i = 0; i < 4; ++i) out.push_back(i < id.size() ? static_cast<unsigned char>(id[i]) : 0);
}

StreamBuilder& StreamBuilder::Chunk(const std::string& id, std::int32_t size, const Bytes& body) {
  AppendId(bytes_, id);
  AppendBigEndian32(bytes_, size);
  bytes_.insert(bytes_.end(), body.begin(), body.end());
  return *this;
}

StreamBuilder& StreamBuilder::Sized(const std::string& id, const Bytes& body) {
  return Chunk(id, static_cast<std::int32_t>(8 + body.size()), body);
}

StreamBuilder& StreamBuilder::Ssmp(const Bytes& data, std::int32_t time, std::int32_t stream) {
  Bytes body;
  AppendBigEndian32(body, time);
  AppendBigEndian32(body, stream);
  AppendId(body, "SSMP");
  AppendBigEndian32(body, static_cast<std::int32_t>(data.size()));
  body.insert(body.end(), data.begin(), data.end());
  return Sized("SNDS", body);
}

StreamBuilder& StreamBuilder::Shdr(const Header& h) {
  Bytes body;
  AppendBigEndian32(body, h.time);
  AppendBigEndian32(body, h.stream);
  AppendId(body, "SHDR");
  AppendBigEndian32(body, h.version);
  AppendBigEndian32(body, h.buffers);
  AppendBigEndian32(body, h.amplitude);
  AppendBigEndian32(body, h.balance);
  AppendId(body, h.dataFormat);
  AppendBigEndian32(body, h.sampleSize);
  AppendBigEndian32(body, h.sampleRate);
  AppendBigEndian32(body, h.channels);  // at 48, as real streams hold it
  AppendId(body, h.compressionType);
  AppendBigEndian32(body, h.compressionRatio);
  AppendBigEndian32(body, h.samples);
  return Sized("SNDS", body);
}

StreamBuilder& StreamBuilder::Fhdr(const FilmHeader& h) {
  Bytes body;
  AppendBigEndian32(body, h.time);
  AppendBigEndian32(body, static_cast<std::int32_t>(h.word));
  AppendId(body, "FHDR");
  AppendBigEndian32(body, 0);
  AppendId(body, h.compression);
  AppendBigEndian32(body, h.height);
  AppendBigEndian32(body, h.width);
  AppendBigEndian32(body, h.timeScale);
  AppendBigEndian32(body, h.frameCount);
  return Sized("FILM", body);
}

StreamBuilder& StreamBuilder::FilmFrame(const Frame& f) {
  Bytes body;
  AppendBigEndian32(body, f.time);
  AppendBigEndian32(body, static_cast<std::int32_t>(f.word));
  AppendId(body, f.kind);
  AppendBigEndian32(body, f.duration);
  AppendBigEndian32(body, f.frameSize >= 0 ? f.frameSize : static_cast<std::int32_t>(f.data.size()));
  body.insert(body.end(), f.data.begin(), f.data.end());
  body.insert(body.end(), f.padding, 0xEE);
  return Sized("FILM", body);
}

StreamBuilder::Header Header(std::int32_t stream, std::int32_t rate, std::int32_t channels,
                             const std::string& compression) {
  StreamBuilder::Header header;
  header.stream = stream;
  header.sampleRate = rate;
  header.channels = channels;
  header.compressionType = compression;
  return header;
}

StreamBuilder& StreamBuilder::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes IffAudioFile(const IffAudio& audio) {
  const bool aifc = audio.formType == "AIFC";
  Bytes body;
  AppendId(body, audio.formType);
  if (aifc) {
    AppendId(body, "FVER");
    AppendBigEndian32(body, 4);
    AppendBigEndian32(body, static_cast<std::int32_t>(0xA2805140));
  }
  Bytes comm;
  comm.push_back(static_cast<unsigned char>(audio.channels >> 8));
  comm.push_back(static_cast<unsigned char>(audio.channels));
  AppendBigEndian32(comm, static_cast<std::int32_t>(audio.data.size()));
  comm.push_back(0);
  comm.push_back(16);
  // 80-bit extended: sign and 15-bit exponent, then a 64-bit mantissa whose
  // top bit is set.
  int top = 31;
  while (top > 0 && (audio.rate >> top) == 0) --top;
  const std::uint64_t mantissa = audio.rate == 0 ? 0 : std::uint64_t{audio.rate} << (63 - top);
  const int exponent = audio.rate == 0 ? 0 : 16383 + top;
  comm.push_back(static_cast<unsigned char>(exponent >> 8));
  comm.push_back(static_cast<unsigned char>(exponent));
  for (int shift = 56; shift >= 0; shift -= 8) comm.push_back(static_cast<unsigned char>(mantissa >> shift));
  if (aifc) {
    AppendId(comm, audio.compression);
    comm.push_back(0);  // an empty name, padded to an even length
    comm.push_back(0);
  }
  AppendId(body, "COMM");
  AppendBigEndian32(body, static_cast<std::int32_t>(comm.size()));
  body.insert(body.end(), comm.begin(), comm.end());
  AppendId(body, "SSND");
  AppendBigEndian32(body, static_cast<std::int32_t>(8 + audio.ssndOffset + audio.data.size()));
  AppendBigEndian32(body, static_cast<std::int32_t>(audio.ssndOffset));
  AppendBigEndian32(body, 0);
  body.insert(body.end(), audio.ssndOffset, 0x55);
  body.insert(body.end(), audio.data.begin(), audio.data.end());
  if (body.size() % 2 != 0) body.push_back(0);
  Bytes file;
  AppendId(file, "FORM");
  AppendBigEndian32(file, static_cast<std::int32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes PatternBytes(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
  return out;
}

Bytes CinepakLikeFrame(bool intra, std::size_t strips, std::size_t stripBytes, std::uint32_t seed) {
  const auto put = [](Bytes& out, std::size_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  Bytes frame = {0};
  put(frame, 10 + strips * (12 + stripBytes), 3);
  for (const std::size_t field : {std::size_t{160}, std::size_t{120}, strips}) put(frame, field, 2);
  for (std::size_t strip = 0; strip < strips; ++strip) {
    frame.push_back(intra ? 0x10 : 0x11);
    put(frame, 12 + stripBytes, 3);
    // One block, below the strip before: top 0, left 0, height 4, right 4.
    for (const std::size_t field : {0, 0, 4, 4}) put(frame, field, 2);
    Bytes body = PatternBytes(stripBytes, seed * 31 + static_cast<std::uint32_t>(strip));
    if (stripBytes >= 4) {  // a chunk of V1 vectors over the whole body
      body[0] = 0x32;
      for (int i = 0; i < 3; ++i)
        body[static_cast<std::size_t>(1 + i)] = static_cast<unsigned char>(stripBytes >> (16 - 8 * i));
    }
    frame.insert(frame.end(), body.begin(), body.end());
  }
  return frame;
}

MapBuilder& MapBuilder::Snds(std::int32_t size) { return Id("SNDS").Value(size); }

MapBuilder& MapBuilder::Ssmp(std::int32_t position, std::int32_t length) {
  return Id("SSMP").Value(position).Value(length);
}

MapBuilder& MapBuilder::Shdr(const StreamBuilder::Header& h) {
  Id("SHDR");
  for (std::int32_t value : {h.buffers, h.amplitude, h.balance, h.sampleSize, h.sampleRate, h.channels})
    Value(value);
  return Id(h.compressionType).Value(h.compressionRatio).Value(h.samples);
}

MapBuilder& MapBuilder::Ssnd(std::int32_t size, std::int32_t bodyPosition) {
  return Id("SSND").Value(size).Value(bodyPosition);
}

MapBuilder& MapBuilder::Raw(const Bytes& raw) {
  bytes_.insert(bytes_.end(), raw.begin(), raw.end());
  return *this;
}

MapBuilder& MapBuilder::Id(const std::string& id) {
  AppendId(bytes_, id);
  return *this;
}

MapBuilder& MapBuilder::Value(std::int32_t value) {
  AppendLittleEndian32(bytes_, value);
  return *this;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace morvane::test
