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
// "SHDR": eleven 4-byte fields in this order, numbers big-endian.
inline constexpr std::int64_t kShdrVersionOffset = 20;
inline constexpr std::int64_t kShdrBuffersOffset = 24;
inline constexpr std::int64_t kShdrAmplitudeOffset = 28;
inline constexpr std::int64_t kShdrBalanceOffset = 32;
inline constexpr std::int64_t kShdrDataFormatOffset = 36;
inline constexpr std::int64_t kShdrSampleSizeOffset = 40;
inline constexpr std::int64_t kShdrSampleRateOffset = 44;
inline constexpr std::int64_t kShdrCompressionRatioOffset = 48;
inline constexpr std::int64_t kShdrCompressionTypeOffset = 52;
inline constexpr std::int64_t kShdrChannelsOffset = 56;
inline constexpr std::int64_t kShdrSamplesOffset = 60;
inline constexpr std::int64_t kShdrEnd = 64;
// "SSND": its body follows the chunk header.
inline constexpr std::int64_t kSsndBodyOffset = 8;

}  // namespace morvane
