#include "support/matroska_reader.h"

#include <cstring>
#include <map>

namespace morvane::test {

namespace {

struct Element {
  std::uint32_t id = 0;
  std::size_t start = 0, body = 0, end = 0;  // offsets in the file
};

// Reads the element at `at`, within `limit`; false when it does not fit.
bool ReadElement(const Bytes& f, std::size_t at, std::size_t limit, Element& e) {
  if (at >= limit) return false;
  const int idLength = f[at] >= 0x80 ? 1 : f[at] >= 0x40 ? 2 : f[at] >= 0x20 ? 3 : f[at] >= 0x10 ? 4 : 0;
  if (idLength == 0 || at + idLength >= limit) return false;
  e.id = 0;
  for (int i = 0; i < idLength; ++i) e.id = e.id << 8 | f[at + i];
  std::size_t p = at + idLength;
  int sizeLength = 1;
  while (sizeLength <= 8 && !(f[p] & (0x80 >> (sizeLength - 1)))) ++sizeLength;
  if (sizeLength > 8 || p + sizeLength > limit) return false;
  std::uint64_t size = f[p] & (0xFF >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) size = size << 8 | f[p + i];
  e.start = at;
  e.body = p + sizeLength;
  if (size > limit - e.body) return false;
  e.end = e.body + size;
  return true;
}

std::uint64_t Unsigned(const Bytes& f, const Element& e) {
  std::uint64_t value = 0;
  for (std::size_t i = e.body; i < e.end; ++i) value = value << 8 | f[i];
  return value;
}

double Float(const Bytes& f, const Element& e) {
  const std::uint64_t bits = Unsigned(f, e);
  if (e.end - e.body == 4) {
    float value;
    const auto narrow = static_cast<std::uint32_t>(bits);
    std::memcpy(&value, &narrow, 4);
    return value;
  }
  double value;
  std::memcpy(&value, &bits, 8);
  return value;
}

std::string Text(const Bytes& f, const Element& e) {
  return std::string(f.begin() + e.body, f.begin() + e.end);
}
Bytes Raw(const Bytes& f, const Element& e) { return Bytes(f.begin() + e.body, f.begin() + e.end); }

// The children of an element, or the problem.
std::vector<Element> Children(const Bytes& f, const Element& parent, std::string& problem) {
  std::vector<Element> children;
  for (std::size_t at = parent.body; at < parent.end;) {
    Element child;
    if (!ReadElement(f, at, parent.end, child)) {
      if (problem.empty()) problem = "an element at " + std::to_string(at) + " overruns its parent";
      break;
    }
    children.push_back(child);
    at = child.end;
  }
  return children;
}

}  // namespace

const MkvTrack* MkvFile::Track(std::uint64_t number) const {
  for (const MkvTrack& track : tracks)
    if (track.number == number) return &track;
  return nullptr;
}

std::vector<const MkvBlock*> MkvFile::BlocksOf(std::uint64_t track) const {
  std::vector<const MkvBlock*> of;
  for (const MkvBlock& block : blocks)
    if (block.track == track) of.push_back(&block);
  return of;
}

Bytes MkvFile::Concatenated(std::uint64_t track) const {
  Bytes all;
  for (const MkvBlock* block : BlocksOf(track)) all.insert(all.end(), block->data.begin(), block->data.end());
  return all;
}

MkvFile ReadMatroska(const Bytes& f) {
  MkvFile movie;
  std::string& problem = movie.problem;
  Element head, segment;
  if (!ReadElement(f, 0, f.size(), head) || head.id != 0x1A45DFA3) {
    problem = "no EBML header";
    return movie;
  }
  for (const Element& e : Children(f, head, problem)) {
    if (e.id == 0x4282) movie.docType = Text(f, e);
    if (e.id == 0x4287) movie.docTypeVersion = Unsigned(f, e);
  }
  if (!ReadElement(f, head.end, f.size(), segment) || segment.id != 0x18538067) {
    if (problem.empty()) problem = "no segment after the EBML header";
    return movie;
  }
  if (segment.end != f.size() && problem.empty()) problem = "the segment does not end with the file";
  std::map<std::size_t, std::uint32_t> topLevel;  // offset from the segment's body -> id
  std::vector<std::pair<std::uint32_t, std::size_t>> seeks;
  std::vector<std::pair<std::size_t, std::size_t>> cues;  // cluster, relative
  std::map<std::size_t, std::size_t> blockAt;             // file offset of a block -> its index
  struct CueWanted {
    std::uint64_t ms, track;
  };
  std::vector<CueWanted> cueWanted;
  for (const Element& top : Children(f, segment, problem)) {
    topLevel[top.start - segment.body] = top.id;
    if (top.id == 0x114D9B74) {
      for (const Element& seek : Children(f, top, problem)) {
        std::uint32_t id = 0;
        std::size_t position = 0;
        for (const Element& e : Children(f, seek, problem)) {
          if (e.id == 0x53AB) id = static_cast<std::uint32_t>(Unsigned(f, e));
          if (e.id == 0x53AC) position = Unsigned(f, e);
        }
        seeks.emplace_back(id, position);
      }
    } else if (top.id == 0x1549A966) {
      for (const Element& e : Children(f, top, problem)) {
        if (e.id == 0x2AD7B1) movie.timestampScale = Unsigned(f, e);
        if (e.id == 0x4D80) movie.muxingApp = Text(f, e);
        if (e.id == 0x5741) movie.writingApp = Text(f, e);
        if (e.id == 0x73A4) movie.segmentUid = Raw(f, e);
        if (e.id == 0x4489) movie.duration = Float(f, e);
      }
    } else if (top.id == 0x1654AE6B) {
      for (const Element& entry : Children(f, top, problem)) {
        MkvTrack track;
        for (const Element& e : Children(f, entry, problem)) {
          if (e.id == 0xD7) track.number = Unsigned(f, e);
          if (e.id == 0x83) track.type = Unsigned(f, e);
          if (e.id == 0x73C5) track.uid = Unsigned(f, e);
          if (e.id == 0x86) track.codec = Text(f, e);
          if (e.id == 0x63A2) track.codecPrivate = Raw(f, e);
          if (e.id == 0x23E383) track.defaultDuration = Unsigned(f, e);
          if (e.id == 0x56AA) track.codecDelay = Unsigned(f, e);
          if (e.id == 0x56BB) track.seekPreRoll = Unsigned(f, e);
          if (e.id == 0xE0 || e.id == 0xE1) {
            for (const Element& g : Children(f, e, problem)) {
              if (g.id == 0xB0) track.width = Unsigned(f, g);
              if (g.id == 0xBA) track.height = Unsigned(f, g);
              if (g.id == 0xB5) track.rate = Float(f, g);
              if (g.id == 0x9F) track.channels = Unsigned(f, g);
              if (g.id == 0x6264) track.bitDepth = Unsigned(f, g);
            }
          }
        }
        movie.tracks.push_back(track);
      }
    } else if (top.id == 0x1F43B675) {
      std::int64_t clusterMs = -1;
      for (const Element& e : Children(f, top, problem)) {
        if (e.id == 0xE7) clusterMs = static_cast<std::int64_t>(Unsigned(f, e));
        if (e.id != 0xA3) continue;
        // A one-byte track number: 0x81 to 0xFE.
        if (clusterMs < 0 || e.end - e.body < 4 || f[e.body] < 0x81 || f[e.body] == 0xFF) {
          if (problem.empty()) problem = "a simple block at " + std::to_string(e.start) + " without its head";
          continue;
        }
        MkvBlock block;
        block.track = f[e.body] & 0x7F;
        block.ms = clusterMs + static_cast<std::int16_t>(f[e.body + 1] << 8 | f[e.body + 2]);
        block.key = (f[e.body + 3] & 0x80) != 0;
        block.data.assign(f.begin() + e.body + 4, f.begin() + e.end);
        blockAt[e.start] = movie.blocks.size();
        movie.blocks.push_back(block);
      }
    } else if (top.id == 0x1C53BB6B) {
      for (const Element& point : Children(f, top, problem)) {
        CueWanted wanted{0, 0};
        for (const Element& e : Children(f, point, problem)) {
          if (e.id == 0xB3) wanted.ms = Unsigned(f, e);
          if (e.id != 0xB7) continue;
          std::size_t cluster = 0, relative = 0;
          for (const Element& g : Children(f, e, problem)) {
            if (g.id == 0xF7) wanted.track = Unsigned(f, g);
            if (g.id == 0xF1) cluster = Unsigned(f, g);
            if (g.id == 0xF0) relative = Unsigned(f, g);
          }
          cues.emplace_back(cluster, relative);
          cueWanted.push_back(wanted);
        }
        ++movie.cuePoints;
      }
    }
  }
  for (const auto& [id, position] : seeks) {
    const auto found = topLevel.find(position);
    if ((found == topLevel.end() || found->second != id) && problem.empty())
      problem = "a seek entry points at no element of its id";
  }
  for (std::size_t i = 0; i < cues.size(); ++i) {
    const auto [cluster, relative] = cues[i];
    const auto found = topLevel.find(cluster);
    Element clusterElement;
    std::size_t blockIndex = movie.blocks.size();
    if (found != topLevel.end() && found->second == 0x1F43B675 &&
        ReadElement(f, segment.body + cluster, segment.end, clusterElement)) {
      const auto block = blockAt.find(clusterElement.body + relative);
      if (block != blockAt.end()) blockIndex = block->second;
    }
    if (blockIndex == movie.blocks.size()) {
      if (problem.empty()) problem = "a cue points at no block";
      continue;
    }
    const MkvBlock& block = movie.blocks[blockIndex];
    if ((!block.key || block.track != cueWanted[i].track ||
         block.ms != static_cast<std::int64_t>(cueWanted[i].ms)) &&
        problem.empty())
      problem = "a cue's block is not the key block of its time and track";
  }
  for (const MkvBlock& block : movie.blocks) {
    if (!movie.Track(block.track) && problem.empty()) problem = "a block of no listed track";
  }
  return movie;
}

}  // namespace morvane::test
