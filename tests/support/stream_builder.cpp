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
  AppendBigEndian32(body, h.compressionRatio);
  AppendId(body, h.compressionType);
  AppendBigEndian32(body, h.channels);
  AppendBigEndian32(body, h.samples);
  return Sized("SNDS", body);
}

StreamBuilder& StreamBuilder::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
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

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace morvane::test
