// The Cinepak decoder over arbitrary frames, and the poster's PNG of what it
// drew. Input: a byte giving the width (1 to 64) and one the height, then
// frames, each a 2-byte big-endian length and its bytes. Every frame's
// picture must be a plain model's, pixel by pixel, and the decoder must call
// a frame whole exactly when the model finds nothing wrong with it; the
// PNG's rows, read back from its stored size, must be in bounds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "video/cinepak_decoder.h"
#include "video/png_image.h"

namespace {

using morvane::fuzz::Bytes;

// The codec read the plain way: every byte through a bounds check, every
// pixel set one by one.
class ModelDecoder {
 public:
  ModelDecoder(int width, int height)
      : width_(width), height_(height), picture_(3 * static_cast<std::size_t>(width * height), 0) {}

  // Gives true when the frame decoded whole.
  bool Decode(const Bytes& frame) {
    bool whole = true;
    if (frame.size() < 10) return false;
    std::size_t strips = Read(frame, 8, 2);
    if (strips > 32) {
      strips = 32;
      whole = false;
    }
    bool allIntra = strips > 0;
    std::size_t at = 10;
    int previousBottom = 0;
    for (std::size_t i = 0; i < strips; ++i) {
      if (frame.size() - at < 12) return false;
      const unsigned id = frame[at];
      const std::size_t size = Read(frame, at + 1, 3);
      if (size < 12) return false;
      int top = static_cast<int>(Read(frame, at + 4, 2)), left = static_cast<int>(Read(frame, at + 6, 2));
      int bottom = static_cast<int>(Read(frame, at + 8, 2));
      const int right = static_cast<int>(Read(frame, at + 10, 2));
      if (top == 0) {
        top = previousBottom;
        bottom = (previousBottom + bottom) % 65536;
      }
      if (id != 0x10) allIntra = false;
      if (id == 0x11 && !keySeen_) whole = false;
      const std::size_t body = at + 12;
      std::size_t end = at + size;
      if (end > frame.size()) {
        end = frame.size();
        whole = false;
      }
      if (i > 0 && (frame[0] & 1) == 0) books_[i] = books_[i - 1];
      if (!Strip(books_[i], frame, body, end, left, top, right, bottom)) return false;
      at = end;
      previousBottom = bottom;
    }
    if (allIntra) keySeen_ = true;  // even when a strip ran past the frame
    return whole;
  }

  const Bytes& Picture() const { return picture_; }

 private:
  using Entry = std::array<int, 12>;
  struct Books {
    std::array<Entry, 256> v4{}, v1{};
  };

  static std::size_t Read(const Bytes& bytes, std::size_t at, int count) {
    std::size_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
    return value;
  }

  static int Clamp(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

  bool Strip(Books& books, const Bytes& frame, std::size_t at, std::size_t end, int left, int top, int right,
             int bottom) {
    const int paddedWidth = (width_ + 3) / 4 * 4, paddedHeight = (height_ + 3) / 4 * 4;
    if (right > paddedWidth || bottom > paddedHeight || left >= right || top >= bottom) return false;
    while (end - at >= 4) {
      const unsigned id = frame[at];
      const std::size_t size = Read(frame, at + 1, 3);
      if (size < 4) return false;
      at += 4;
      const std::size_t chunkEnd = size - 4 > end - at ? end : at + size - 4;
      if ((id & 0xF0) == 0x20 && (id & 0x0A) == 0x00) Codebook(books.v4, id, frame, at, chunkEnd);
      if ((id & 0xF0) == 0x20 && (id & 0x0A) == 0x02) Codebook(books.v1, id, frame, at, chunkEnd);
      if (id == 0x30 || id == 0x31 || id == 0x32)
        return Vectors(books, id, frame, at, chunkEnd, left, top, right, bottom);
      at = chunkEnd;
    }
    return false;
  }

  static void Codebook(std::array<Entry, 256>& book, unsigned id, const Bytes& frame, std::size_t at,
                       std::size_t end) {
    const std::size_t entryBytes = (id & 4) ? 4 : 6;
    std::uint32_t flags = 0;
    for (int n = 0; n < 256; ++n) {
      if (id & 1) {
        if (n % 32 == 0) {
          if (end - at < 4) return;
          flags = static_cast<std::uint32_t>(Read(frame, at, 4));
          at += 4;
        }
        if (((flags >> (31 - n % 32)) & 1) == 0) continue;
      }
      if (end - at < entryBytes) return;
      Entry& entry = book[static_cast<std::size_t>(n)];
      for (int p = 0; p < 4; ++p) {
        const int y = frame[at + static_cast<std::size_t>(p)];
        int r = y, g = y, b = y;
        if (entryBytes == 6) {
          const int u = static_cast<signed char>(frame[at + 4]), v = static_cast<signed char>(frame[at + 5]);
          r = Clamp(y + 2 * v);
          g = Clamp(y - u / 2 - v);
          b = Clamp(y + 2 * u);
        }
        entry[static_cast<std::size_t>(3 * p)] = r;
        entry[static_cast<std::size_t>(3 * p + 1)] = g;
        entry[static_cast<std::size_t>(3 * p + 2)] = b;
      }
      at += entryBytes;
    }
  }

  // One pixel of a block: rows past the picture fall on the block's top
  // row, which is drawn last; columns past it are lost.
  void Set(int x, int y, int blockTop, const int* rgb) {
    if (y >= height_) y = blockTop;
    if (x >= width_ || y >= height_) return;
    for (int c = 0; c < 3; ++c)
      picture_[3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                    static_cast<std::size_t>(x)) +
               static_cast<std::size_t>(c)] = static_cast<unsigned char>(rgb[c]);
  }

  bool Vectors(const Books& books, unsigned id, const Bytes& frame, std::size_t at, std::size_t end, int left,
               int top, int right, int bottom) {
    std::vector<bool> bits;  // the flag bits not used yet, in order
    std::size_t next = 0;
    const auto bit = [&](bool& value) {
      if (next == bits.size()) {
        if (end - at < 4) return false;
        const auto word = static_cast<std::uint32_t>(Read(frame, at, 4));
        at += 4;
        bits.clear();
        next = 0;
        for (int i = 31; i >= 0; --i) bits.push_back(((word >> i) & 1) != 0);
      }
      value = bits[next++];
      return true;
    };
    for (int y = top; y < bottom; y += 4) {
      for (int x = left; x < right; x += 4) {
        bool changes = true, v4 = false;
        if (id == 0x31 && !bit(changes)) return false;
        if (!changes) continue;
        if (id != 0x32 && !bit(v4)) return false;
        if (!v4) {
          if (end - at < 1) return false;
          const Entry& e = books.v1[frame[at++]];
          for (int k = 3; k >= 0; --k)
            for (int i = 0; i < 4; ++i)
              Set(x + i, y + k, y, &e[static_cast<std::size_t>(3 * ((k / 2) * 2 + i / 2))]);
        } else {
          if (end - at < 4) return false;
          const Entry* e[4];
          for (int q = 0; q < 4; ++q) e[q] = &books.v4[frame[at++]];
          for (int k = 3; k >= 0; --k)
            for (int i = 0; i < 4; ++i)
              Set(x + i, y + k, y,
                  &(*e[(k / 2) * 2 + i / 2])[static_cast<std::size_t>(3 * ((k % 2) * 2 + i % 2))]);
        }
      }
    }
    return true;
  }

  int width_, height_;
  Bytes picture_;
  std::array<Books, 32> books_{};
  bool keySeen_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
  morvane::CinepakDecoder decoder(width, height);
  ModelDecoder model(width, height);
  std::size_t frames = 0;
  for (std::size_t at = 2; size - at >= 2;) {
    const std::size_t length =
        std::min<std::size_t>(std::size_t{data[at]} << 8 | data[at + 1], size - at - 2);
    at += 2;
    // A copy of its own, so that the sanitizer sees a read past its end.
    const Bytes frame(data + at, data + at + length);
    at += length;
    ++frames;
    const std::string told = decoder.Decode(frame.data(), frame.size());
    const bool whole = model.Decode(frame);
    FUZZ_CHECK(told.empty() == whole, "frame " + std::to_string(frames) + ": the decoder says '" + told +
                                          "', the model " + (whole ? "whole" : "not whole"));
    FUZZ_CHECK(told.empty() || told.rfind("frame " + std::to_string(frames) + ": ", 0) == 0,
               "the text names another frame: " + told);
    FUZZ_CHECK(decoder.Rgb() == model.Picture(), "frame " + std::to_string(frames) + ": the pictures differ");
  }
  const std::vector<unsigned char> png = morvane::EncodePng(decoder.Rgb().data(), width, height);
  FUZZ_CHECK(png.size() > 8 && png[1] == 'P', "no PNG");
  return 0;
}
