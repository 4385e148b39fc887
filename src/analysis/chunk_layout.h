#pragma once

#include <cstdint>

namespace morvane {

// The chunk stream: chunks from offset 0, each an 8-byte header (4-byte id,
// big-endian size counting the header itself) and a body. The walk of the
// analysis and the batch converter both read the stream through these.
inline constexpr int kChunkHeaderSize = 8;
inline constexpr std::int64_t kChunkSizeOffset = 4;

// A sound chunk ("SNDS"), offsets from the chunk start: time, stream number,
// sub-chunk id, then the sub-chunk's body.
inline constexpr std::int64_t kSndsTimeOffset = 8;
inline constexpr std::int64_t kSndsStreamOffset = 12;
inline constexpr std::int64_t kSndsSubIdOffset = 16;
inline constexpr std::int64_t kSndsFieldsEnd = 20;
// "SSMP": the data length, then the sound data.
inline constexpr std::int64_t kSsmpLengthOffset = 20;
inline constexpr std::int64_t kSsmpDataOffset = 24;
// "SHDR": eleven 4-byte fields in this order, numbers big-endian. Real
// streams hold the channel count at 48 and the compression ratio at 56.
inline constexpr std::int64_t kShdrVersionOffset = 20;
inline constexpr std::int64_t kShdrBuffersOffset = 24;
inline constexpr std::int64_t kShdrAmplitudeOffset = 28;
inline constexpr std::int64_t kShdrBalanceOffset = 32;
inline constexpr std::int64_t kShdrDataFormatOffset = 36;
inline constexpr std::int64_t kShdrSampleSizeOffset = 40;
inline constexpr std::int64_t kShdrSampleRateOffset = 44;
inline constexpr std::int64_t kShdrChannelsOffset = 48;
inline constexpr std::int64_t kShdrCompressionTypeOffset = 52;
inline constexpr std::int64_t kShdrCompressionRatioOffset = 56;
inline constexpr std::int64_t kShdrSamplesOffset = 60;
inline constexpr std::int64_t kShdrEnd = 64;
// "SSND": its body follows the chunk header.
inline constexpr std::int64_t kSsndBodyOffset = 8;

// The word at offset 12 of a sound or film chunk: its low 16 bits are the
// channel (the stream number of a sound chunk, the film of a film chunk),
// its high 16 bits flags, of which bit 0 marks a key chunk that needs no
// earlier one. Older streams leave the flags 0.
inline constexpr std::uint32_t kChannelMask = 0xFFFF;
inline constexpr std::uint32_t kKeyChunkFlag = 0x10000;

// A film chunk ("FILM"), offsets from the chunk start: time, channel word,
// sub-type, then the sub-type's fields.
inline constexpr std::int64_t kFilmTimeOffset = 8;
inline constexpr std::int64_t kFilmChannelOffset = 12;
inline constexpr std::int64_t kFilmSubTypeOffset = 16;
// "FHDR", the film header: version, compression type (four characters),
// height, width, the film's time scale, frame count.
inline constexpr std::int64_t kFhdrVersionOffset = 20;
inline constexpr std::int64_t kFhdrCompressionOffset = 24;
inline constexpr std::int64_t kFhdrHeightOffset = 28;
inline constexpr std::int64_t kFhdrWidthOffset = 32;
inline constexpr std::int64_t kFhdrTimeScaleOffset = 36;
inline constexpr std::int64_t kFhdrFrameCountOffset = 40;
inline constexpr std::int64_t kFhdrEnd = 44;
// "FRME" (a frame; a key frame in a film that also uses "DFRM") and "DFRM"
// (a difference frame): duration in ticks, the frame's size, the frame.
// What follows the frame up to the chunk's end is padding.
inline constexpr std::int64_t kFrameDurationOffset = 20;
inline constexpr std::int64_t kFrameSizeOffset = 24;
inline constexpr std::int64_t kFrameDataOffset = 28;
// Chunk times count ticks of 1/240 s.
inline constexpr std::int32_t kTicksPerSecond = 240;

}  // namespace morvane
