#include "movie/matroska_writer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "core/support.h"

namespace morvane {

namespace {

// The element ids, as Matroska's table gives them.
enum : std::uint32_t {
  kEbml = 0x1A45DFA3,
  kEbmlVersion = 0x4286,
  kEbmlReadVersion = 0x42F7,
  kEbmlMaxIdLength = 0x42F2,
  kEbmlMaxSizeLength = 0x42F3,
  kDocType = 0x4282,
  kDocTypeVersion = 0x4287,
  kDocTypeReadVersion = 0x4285,
  kSegment = 0x18538067,
  kSeekHead = 0x114D9B74,
  kSeek = 0x4DBB,
  kSeekId = 0x53AB,
  kSeekPosition = 0x53AC,
  kInfo = 0x1549A966,
  kTimestampScale = 0x2AD7B1,
  kMuxingApp = 0x4D80,
  kWritingApp = 0x5741,
  kSegmentUid = 0x73A4,
  kDuration = 0x4489,
  kTracks = 0x1654AE6B,
  kTrackEntry = 0xAE,
  kTrackNumber = 0xD7,
  kTrackUid = 0x73C5,
  kTrackType = 0x83,
  kFlagLacing = 0x9C,
  kCodecId = 0x86,
  kCodecPrivate = 0x63A2,
  kDefaultDuration = 0x23E383,
  kVideo = 0xE0,
  kPixelWidth = 0xB0,
  kPixelHeight = 0xBA,
  kAudio = 0xE1,
  kSamplingFrequency = 0xB5,
  kChannels = 0x9F,
  kBitDepth = 0x6264,
  kCodecDelay = 0x56AA,
  kSeekPreRoll = 0x56BB,
  kCluster = 0x1F43B675,
  kTimestamp = 0xE7,
  kSimpleBlock = 0xA3,
  kCues = 0x1C53BB6B,
  kCuePoint = 0xBB,
  kCueTime = 0xB3,
  kCueTrackPositions = 0xB7,
  kCueTrack = 0xF7,
  kCueClusterPosition = 0xF1,
  kCueRelativePosition = 0xF0,
};

constexpr char kApplication[] = "Morvane " MORVANE_VERSION;
constexpr std::uint64_t kNanosecondsPerTick = 1000000;  // the timestamp scale: 1 ms
constexpr int kVideoTrack = 1;
constexpr std::uint64_t kVideoType = 1, kAudioType = 2;
constexpr std::int64_t kLongestClusterMs = 5000;
constexpr std::size_t kSeekHeadRoom = 96;
// Cue points kept in memory; past this, every other one is let go, so that
// a film of any length keeps its cues in bounded memory.
constexpr std::size_t kMostCues = 64 * 1024;
constexpr int kClusterSizeWidth = 8;
// The simple block's head: track number (one byte up to 126), 16-bit
// relative time, flags.
constexpr std::size_t kBlockHeadSize = 4;
constexpr unsigned char kKeyBlockFlag = 0x80;
// An "OpusHead" of one or two channels is 19 bytes; room is kept for more.
constexpr std::size_t kLongestOpusHead = 32;

// A 64-bit mix of the seed and a purpose: the movie's identifiers.
std::uint64_t Mixed(std::uint64_t seed, std::uint64_t purpose) {
  std::uint64_t x = seed ^ (purpose * 0x9E3779B97F4A7C15ULL);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x == 0 ? 1 : x;
}

EbmlBytes SeekEntry(std::uint32_t id, std::int64_t position) {
  EbmlBytes idBytes, body, seek;
  AppendEbmlId(idBytes, id);
  AppendBinary(body, kSeekId, idBytes.data(), idBytes.size());
  AppendUnsigned(body, kSeekPosition, static_cast<std::uint64_t>(position));
  AppendMaster(seek, kSeek, body);
  return seek;
}

}  // namespace

MatroskaWriter::MatroskaWriter(const std::string& path, std::uint64_t seed, const MovieVideo& video,
                               MovieKind kind)
    : seed_(seed), video_(video), kind_(kind) {
  file_.Open(path, ByteFile::Mode::kCreate);
  try {
    WriteHead();
  } catch (...) {
    file_.Discard();
    throw;
  }
}

void MatroskaWriter::WriteHead() {
  EbmlBytes head, body;
  AppendUnsigned(body, kEbmlVersion, 1);
  AppendUnsigned(body, kEbmlReadVersion, 1);
  AppendUnsigned(body, kEbmlMaxIdLength, 4);
  AppendUnsigned(body, kEbmlMaxSizeLength, 8);
  AppendString(body, kDocType, kind_ == MovieKind::kWebm ? "webm" : "matroska");
  AppendUnsigned(body, kDocTypeVersion, 4);
  AppendUnsigned(body, kDocTypeReadVersion, 2);
  AppendMaster(head, kEbml, body);
  // The segment's size is known at the end.
  AppendEbmlId(head, kSegment);
  AppendEbmlSize(head, kEbmlUnknownSize, 8);
  segmentBody_ = static_cast<std::int64_t>(head.size());

  seekHeadRoom_ = static_cast<std::int64_t>(head.size());
  AppendVoid(head, kSeekHeadRoom);

  infoAt_ = static_cast<std::int64_t>(head.size());
  body.clear();
  AppendUnsigned(body, kTimestampScale, kNanosecondsPerTick);
  AppendString(body, kMuxingApp, kApplication);
  AppendString(body, kWritingApp, kApplication);
  EbmlBytes uid;
  for (int half = 0; half < 2; ++half) AppendBigEndian64(uid, Mixed(seed_, 1 + half));
  AppendBinary(body, kSegmentUid, uid.data(), uid.size());
  // The duration is the info's last element: its 8 bytes end the info.
  AppendFloat(body, kDuration, 0.0);
  AppendMaster(head, kInfo, body);
  durationAt_ = static_cast<std::int64_t>(head.size()) - 8;

  // The track list comes before the first cluster, where players look for
  // it, but a sound stream can begin after the film's first frames: room is
  // kept for the largest list a movie may have, and filled at the end.
  MovieVideo widest = video_;
  widest.width = widest.height = std::numeric_limits<std::uint32_t>::max();
  MovieSound widestSound(std::numeric_limits<std::int32_t>::max(), 2);
  if (kind_ == MovieKind::kWebm) {
    widestSound.opusHead.assign(kLongestOpusHead, 0xFF);
    widestSound.codecDelayNs = widestSound.seekPreRollNs = std::numeric_limits<std::uint64_t>::max();
  }
  std::vector<SoundTrack> most;
  for (int i = 0; i < kMostSoundTracks; ++i) most.push_back({widestSound, 0, kVideoTrack + 1 + i});
  EbmlBytes largest;
  AppendMaster(largest, kTracks, TracksBody(widest, most, std::numeric_limits<std::uint64_t>::max()));
  tracksRoom_ = static_cast<std::int64_t>(head.size());
  tracksRoomSize_ = largest.size() + 2;
  AppendVoid(head, tracksRoomSize_);
  file_.Write(head.data(), head.size());
}

int MatroskaWriter::AddSound(const MovieSound& sound, std::size_t order) {
  if (sounds_.size() >= kMostSoundTracks) return 0;
  if (sound.opusHead.size() > kLongestOpusHead) throw std::logic_error("an OpusHead longer than its room");
  const int number = kVideoTrack + 1 + static_cast<int>(sounds_.size());
  sounds_.push_back({sound, order, number});
  return number;
}

void MatroskaWriter::UpdateSound(int number, const MovieSound& sound) {
  if (sound.opusHead.size() > kLongestOpusHead) throw std::logic_error("an OpusHead longer than its room");
  for (SoundTrack& track : sounds_) {
    if (track.number == number) track.sound = sound;
  }
}

void MatroskaWriter::Patch(std::int64_t at, const EbmlBytes& bytes) {
  // A cluster's size is patched when the next one starts: most often still
  // in the file's buffer, so that no write call is spent on it.
  file_.Overwrite(at, bytes.data(), bytes.size());
}

void MatroskaWriter::StartCluster(std::int64_t ms) {
  CloseCluster();
  clusterAt_ = Position();
  clusterMs_ = ms;
  EbmlBytes head;
  AppendEbmlId(head, kCluster);
  AppendEbmlSize(head, 0, kClusterSizeWidth);
  AppendUnsigned(head, kTimestamp, static_cast<std::uint64_t>(ms));
  file_.Write(head.data(), head.size());
}

void MatroskaWriter::CloseCluster() {
  CloseBlock();
  if (clusterAt_ < 0) return;
  const std::int64_t bodyStart = clusterAt_ + 4 + kClusterSizeWidth;
  EbmlBytes size;
  AppendEbmlSize(size, static_cast<std::uint64_t>(Position() - bodyStart), kClusterSizeWidth);
  Patch(clusterAt_ + 4, size);
  clusterAt_ = -1;
}

void MatroskaWriter::CloseBlock() {
  if (blockSizeAt_ < 0) return;
  if (blockLeft_ > 0) {
    EbmlBytes size;
    AppendEbmlSize(size, kBlockHeadSize + blockGiven_, blockSizeWidth_);
    Patch(blockSizeAt_, size);
  }
  blockSizeAt_ = -1;
  blockLeft_ = 0;
}

void MatroskaWriter::KeepCue(const Cue& cue) {
  if (keyFrames_++ % cueSpacing_ != 0) return;
  if (cues_.size() >= kMostCues) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cues_.size(); i += 2) cues_[kept++] = cues_[i];
    cues_.resize(kept);
    cueSpacing_ *= 2;
    if ((keyFrames_ - 1) % cueSpacing_ != 0) return;
  }
  cues_.push_back(cue);
}

std::int64_t MatroskaWriter::BeginBlock(int track, std::int64_t ms, bool key, std::size_t size) {
  CloseBlock();
  ms = std::max<std::int64_t>(ms, 0);
  const std::int64_t relative = ms - clusterMs_;
  const bool videoKey = track == kVideoTrack && key;
  if (clusterAt_ < 0 || videoKey || relative > std::numeric_limits<std::int16_t>::max() ||
      relative < std::numeric_limits<std::int16_t>::min() || relative >= kLongestClusterMs) {
    StartCluster(ms);
  }
  const std::int64_t at = Position();
  if (videoKey) KeepCue({ms, clusterAt_ - segmentBody_, at - (clusterAt_ + 4 + kClusterSizeWidth)});
  EbmlBytes head;
  AppendEbmlId(head, kSimpleBlock);
  blockSizeAt_ = at + static_cast<std::int64_t>(head.size());
  blockSizeWidth_ = EbmlSizeWidth(kBlockHeadSize + size);
  AppendEbmlSize(head, kBlockHeadSize + size, blockSizeWidth_);
  AppendEbmlSize(head, static_cast<std::uint64_t>(track), 1);
  const auto offset = static_cast<std::uint16_t>(static_cast<std::int16_t>(ms - clusterMs_));
  head.push_back(static_cast<unsigned char>(offset >> 8));
  head.push_back(static_cast<unsigned char>(offset));
  head.push_back(key ? kKeyBlockFlag : 0);
  file_.Write(head.data(), head.size());
  blockLeft_ = size;
  blockGiven_ = 0;
  return at + static_cast<std::int64_t>(head.size());
}

void MatroskaWriter::BlockBytes(const unsigned char* bytes, std::size_t count) {
  if (count > blockLeft_) throw std::logic_error("more bytes than the block was begun with");
  file_.Write(bytes, count);
  blockLeft_ -= count;
  blockGiven_ += count;
}

EbmlBytes MatroskaWriter::TracksBody(const MovieVideo& video, const std::vector<SoundTrack>& sounds,
                                     std::uint64_t frameDurationNs) const {
  EbmlBytes tracks, entry, inner;
  AppendUnsigned(entry, kTrackNumber, kVideoTrack);
  AppendUnsigned(entry, kTrackUid, Mixed(seed_, 100));
  AppendUnsigned(entry, kTrackType, kVideoType);
  AppendUnsigned(entry, kFlagLacing, 0);
  AppendString(entry, kCodecId, video.codecId);
  if (!video.codecPrivate.empty())
    AppendBinary(entry, kCodecPrivate, video.codecPrivate.data(), video.codecPrivate.size());
  if (frameDurationNs > 0) AppendUnsigned(entry, kDefaultDuration, frameDurationNs);
  AppendUnsigned(inner, kPixelWidth, video.width);
  AppendUnsigned(inner, kPixelHeight, video.height);
  AppendMaster(entry, kVideo, inner);
  AppendMaster(tracks, kTrackEntry, entry);

  std::vector<const SoundTrack*> listed;
  for (const SoundTrack& sound : sounds) listed.push_back(&sound);
  std::stable_sort(listed.begin(), listed.end(),
                   [](const SoundTrack* a, const SoundTrack* b) { return a->order < b->order; });
  for (const SoundTrack* sound : listed) {
    entry.clear();
    inner.clear();
    AppendUnsigned(entry, kTrackNumber, static_cast<std::uint64_t>(sound->number));
    AppendUnsigned(entry, kTrackUid, Mixed(seed_, 100 + static_cast<std::uint64_t>(sound->number)));
    AppendUnsigned(entry, kTrackType, kAudioType);
    AppendUnsigned(entry, kFlagLacing, 0);
    const MovieSound& track = sound->sound;
    if (kind_ == MovieKind::kWebm) {
      AppendString(entry, kCodecId, "A_OPUS");
      AppendBinary(entry, kCodecPrivate, track.opusHead.data(), track.opusHead.size());
      AppendUnsigned(entry, kCodecDelay, track.codecDelayNs);
      AppendUnsigned(entry, kSeekPreRoll, track.seekPreRollNs);
      // Opus always decodes at 48 kHz.
      AppendFloat(inner, kSamplingFrequency, 48000.0);
      AppendUnsigned(inner, kChannels, static_cast<std::uint64_t>(track.channels));
    } else {
      AppendString(entry, kCodecId, "A_PCM/INT/LIT");
      AppendFloat(inner, kSamplingFrequency, static_cast<double>(track.rate));
      AppendUnsigned(inner, kChannels, static_cast<std::uint64_t>(track.channels));
      AppendUnsigned(inner, kBitDepth, 16);
    }
    AppendMaster(entry, kAudio, inner);
    AppendMaster(tracks, kTrackEntry, entry);
  }
  return tracks;
}

void MatroskaWriter::Finish(const MovieEnd& end) {
  CloseCluster();
  std::int64_t cuesAt = -1;
  if (!cues_.empty()) {
    cuesAt = Position();
    EbmlBytes points, cues;
    for (const Cue& cue : cues_) {
      EbmlBytes point, positions;
      AppendUnsigned(positions, kCueTrack, kVideoTrack);
      AppendUnsigned(positions, kCueClusterPosition, static_cast<std::uint64_t>(cue.cluster));
      AppendUnsigned(positions, kCueRelativePosition, static_cast<std::uint64_t>(cue.relative));
      AppendUnsigned(point, kCueTime, static_cast<std::uint64_t>(cue.ms));
      AppendMaster(point, kCueTrackPositions, positions);
      AppendMaster(points, kCuePoint, point);
    }
    AppendMaster(cues, kCues, points);
    file_.Write(cues.data(), cues.size());
  }
  const std::int64_t segmentEnd = Position();

  EbmlBytes tracks;
  AppendMasterFilling(tracks, kTracks, TracksBody(video_, sounds_, end.frameDurationNs), tracksRoomSize_);
  Patch(tracksRoom_, tracks);

  EbmlBytes seeks, seekHead;
  for (const auto& [id, at] :
       {std::pair{kInfo, infoAt_}, std::pair{kTracks, tracksRoom_}, std::pair{kCues, cuesAt}}) {
    if (at < 0) continue;
    const EbmlBytes seek = SeekEntry(id, at - segmentBody_);
    seeks.insert(seeks.end(), seek.begin(), seek.end());
  }
  AppendMasterFilling(seekHead, kSeekHead, seeks, kSeekHeadRoom);
  Patch(seekHeadRoom_, seekHead);

  EbmlBytes durationBytes;
  AppendBigEndian64(durationBytes,
                    DoubleBits(static_cast<double>(std::max<std::int64_t>(end.durationMs, 0))));
  Patch(durationAt_, durationBytes);

  EbmlBytes segmentSize;
  AppendEbmlSize(segmentSize, static_cast<std::uint64_t>(segmentEnd - segmentBody_), 8);
  Patch(segmentBody_ - 8, segmentSize);
  file_.Close();
}

}  // namespace morvane
