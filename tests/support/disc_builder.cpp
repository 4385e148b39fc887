#include "support/disc_builder.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace morvane::test {

namespace {

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

std::size_t Blocks(std::size_t bytes) { return (bytes + DiscBuilder::kBlock - 1) / DiscBuilder::kBlock; }

}  // namespace

DiscBuilder::Entry DiscBuilder::File(const std::string& name, std::uint32_t bytes,
                                     std::vector<std::uint32_t> copies) {
  Entry entry;
  entry.name = name;
  entry.byteCount = bytes;
  entry.blockCount = static_cast<std::uint32_t>(Blocks(bytes));
  entry.copies = std::move(copies);
  return entry;
}

DiscBuilder::Entry DiscBuilder::Folder(const std::string& name, std::uint32_t blocks,
                                       std::vector<std::uint32_t> copies) {
  Entry entry;
  entry.flags = 7;
  entry.type = "*dir";
  entry.name = name;
  entry.byteCount = blocks * static_cast<std::uint32_t>(kBlock);
  entry.blockCount = blocks;
  entry.copies = std::move(copies);
  return entry;
}

DiscBuilder& DiscBuilder::Volume(const std::string& label, std::uint32_t rootBlocks,
                                 const std::vector<std::uint32_t>& rootCopies) {
  image_[0] = 1;
  std::memcpy(image_.data() + 1, "ZZZZZ", 5);
  image_[6] = 1;
  std::memcpy(image_.data() + 40, label.data(), std::min<std::size_t>(label.size(), 32));
  Put32(image_, 76, kBlock);
  Put32(image_, 80, static_cast<std::uint32_t>(image_.size() / kBlock));
  Put32(image_, 84, 1);
  Put32(image_, 88, rootBlocks);
  Put32(image_, 92, kBlock);
  Put32(image_, 96, static_cast<std::uint32_t>(rootCopies.size() - 1));
  for (std::size_t i = 0; i < rootCopies.size(); ++i) Put32(image_, 100 + 4 * i, rootCopies[i]);
  return *this;
}

DiscBuilder& DiscBuilder::Directory(std::size_t block, std::int32_t next, std::int32_t previous,
                                    const std::vector<Entry>& entries, std::int64_t firstFree) {
  const std::size_t start = block * kBlock;
  Put32(image_, start, static_cast<std::uint32_t>(next));
  Put32(image_, start + 4, static_cast<std::uint32_t>(previous));
  std::size_t at = start + 20;
  Put32(image_, start + 16, 20);
  for (const Entry& entry : entries) {
    Put32(image_, at, entry.flags);
    Put32(image_, at + 4, 100);
    std::memcpy(image_.data() + at + 8, entry.type.data(), 4);
    Put32(image_, at + 12, kBlock);
    Put32(image_, at + 16, entry.byteCount);
    Put32(image_, at + 20, entry.blockCount);
    std::memcpy(image_.data() + at + 32, entry.name.data(), std::min<std::size_t>(entry.name.size(), 32));
    Put32(image_, at + 64,
          entry.lastCopy >= 0 ? static_cast<std::uint32_t>(entry.lastCopy)
                              : static_cast<std::uint32_t>(entry.copies.size() - 1));
    for (std::size_t i = 0; i < entry.copies.size() && at + 68 + 4 * i + 4 <= start + kBlock; ++i)
      Put32(image_, at + 68 + 4 * i, entry.copies[i]);
    at += 68 + 4 * entry.copies.size();
  }
  Put32(image_, start + 12,
        static_cast<std::uint32_t>(firstFree >= 0 ? firstFree : static_cast<std::int64_t>(at - start)));
  return *this;
}

DiscBuilder& DiscBuilder::Put(std::size_t block, const Bytes& bytes) {
  if (image_.size() < block * kBlock + bytes.size())
    image_.resize(block * kBlock + Blocks(bytes.size()) * kBlock, 0);
  std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<std::ptrdiff_t>(block * kBlock));
  return *this;
}

Bytes TreeImage(const std::vector<TreeFile>& files, const TreeOptions& options) {
  // Each folder's names in the order first met; "" is the root.
  std::map<std::string, std::vector<std::pair<std::string, int>>> folders;  // name, file index or -1
  std::vector<std::string> order = {""};
  folders[""];
  for (std::size_t index = 0; index < files.size(); ++index) {
    std::string parent;
    std::size_t from = 0;
    for (std::size_t slash; (slash = files[index].path.find('/', from)) != std::string::npos;
         from = slash + 1) {
      const std::string name = files[index].path.substr(from, slash - from);
      const std::string path = parent.empty() ? name : parent + "/" + name;
      if (!folders.count(path)) {
        folders[parent].emplace_back(name, -1);
        folders[path];
        order.push_back(path);
      }
      parent = path;
    }
    folders[parent].emplace_back(files[index].path.substr(from), static_cast<int>(index));
  }
  std::map<std::string, std::pair<std::size_t, std::size_t>> place;  // first block, blocks
  std::size_t next = 1;
  for (const std::string& path : order) {
    const std::size_t blocks = std::max<std::size_t>(
        1, (folders[path].size() + options.entriesPerBlock - 1) / options.entriesPerBlock);
    place[path] = {next, blocks};
    next += blocks;
  }
  std::vector<std::size_t> first(files.size()), second(files.size());
  for (std::size_t index = 0; index < files.size(); ++index) {
    first[index] = next;
    next += Blocks(files[index].bytes.size());
    if (options.twoCopies) {
      second[index] = next;
      next += Blocks(files[index].bytes.size());
    }
  }
  DiscBuilder disc(next);
  disc.Volume(options.label, static_cast<std::uint32_t>(place[""].second),
              {static_cast<std::uint32_t>(place[""].first)});
  for (const std::string& path : order) {
    const auto& entries = folders[path];
    const auto [start, blocks] = place[path];
    for (std::size_t block = 0; block < blocks; ++block) {
      std::vector<DiscBuilder::Entry> here;
      for (std::size_t n = block * options.entriesPerBlock;
           n < std::min(entries.size(), (block + 1) * options.entriesPerBlock); ++n) {
        const auto& [name, index] = entries[n];
        if (index < 0) {
          const auto [childStart, childBlocks] = place[path.empty() ? name : path + "/" + name];
          here.push_back(DiscBuilder::Folder(name, static_cast<std::uint32_t>(childBlocks),
                                             {static_cast<std::uint32_t>(childStart)}));
        } else {
          std::vector<std::uint32_t> copies = {static_cast<std::uint32_t>(first[index])};
          if (options.twoCopies) {
            if (options.firstCopyOutside) copies[0] = static_cast<std::uint32_t>(next + 1000);
            copies.push_back(static_cast<std::uint32_t>(second[index]));
          }
          here.push_back(
              DiscBuilder::File(name, static_cast<std::uint32_t>(files[index].bytes.size()), copies));
        }
      }
      if (!here.empty() && block + 1 == blocks) here.back().flags |= 0x80000000;
      disc.Directory(start + block, block + 1 < blocks ? static_cast<std::int32_t>(block + 1) : -1,
                     block > 0 ? static_cast<std::int32_t>(block - 1) : -1, here);
    }
  }
  for (std::size_t index = 0; index < files.size(); ++index) {
    disc.Put(first[index], files[index].bytes);
    if (options.twoCopies) disc.Put(second[index], files[index].bytes);
  }
  return disc.Image();
}

Bytes RawSectors(const Bytes& blocks) {
  Bytes raw;
  const std::size_t count = Blocks(blocks.size());
  raw.reserve(count * 2352);
  for (std::size_t sector = 0; sector < count; ++sector) {
    raw.push_back(0);
    raw.insert(raw.end(), 10, 0xFF);
    raw.push_back(0);
    // The address, minutes:seconds:frames in BCD from 00:02:00.
    const std::size_t frame = sector + 150;
    const auto bcd = [](std::size_t value) {
      return static_cast<unsigned char>((value / 10) * 16 + value % 10);
    };
    raw.push_back(bcd(frame / 75 / 60));
    raw.push_back(bcd(frame / 75 % 60));
    raw.push_back(bcd(frame % 75));
    raw.push_back(1);
    const std::size_t from = sector * DiscBuilder::kBlock;
    const std::size_t take = std::min(DiscBuilder::kBlock, blocks.size() - from);
    raw.insert(raw.end(), blocks.begin() + static_cast<std::ptrdiff_t>(from),
               blocks.begin() + static_cast<std::ptrdiff_t>(from + take));
    raw.insert(raw.end(), DiscBuilder::kBlock - take, 0);
    raw.insert(raw.end(), 288, 0);
  }
  return raw;
}

std::string CueSheetText(std::size_t dataSectors, const std::string& type) {
  const auto time = [](std::size_t frames) {
    const auto two = [](std::size_t value) {
      return std::string(value < 10 ? "0" : "") + std::to_string(value);
    };
    return two(frames / 75 / 60) + ":" + two(frames / 75 % 60) + ":" + two(frames % 75);
  };
  return "FILE \"game.bin\" " + type + "\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n" +
         "    INDEX 00 " + time(dataSectors) + "\n    INDEX 01 " + time(dataSectors + 2) + "\n";
}

CueDisc CueAndBin(const Bytes& blocks, const Bytes& audio, const std::string& type) {
  CueDisc disc;
  disc.bin = RawSectors(blocks);
  const std::size_t sectors = disc.bin.size() / 2352;
  const Bytes pregap = PatternBytes(2 * 2352, 20);
  disc.bin.insert(disc.bin.end(), pregap.begin(), pregap.end());
  disc.bin.insert(disc.bin.end(), audio.begin(), audio.end());
  disc.cue = CueSheetText(sectors, type);
  return disc;
}

Bytes LoopingFolderImage(const Bytes& good) {
  DiscBuilder disc(6);
  disc.Volume("BAD", 1, {1});
  disc.Directory(1, -1, -1,
                 {DiscBuilder::Folder("D", 2, {3}),
                  DiscBuilder::File("GOOD.STR", static_cast<std::uint32_t>(good.size()), {4})});
  disc.Directory(3, 0, -1, {});
  disc.Put(4, good);
  return disc.Image();
}

}  // namespace morvane::test
