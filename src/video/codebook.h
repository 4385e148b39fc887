#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace morvane {

// A 2x2 patch of a picture as Cinepak's codebooks hold it: four lumas (top
// left, top right, bottom left, bottom right) and one chroma pair,
// U = (B - Y) / 2 and V = (R - Y) / 2, which the decoder turns back as
// R = Y + 2V, G = Y - U/2 - V, B = Y + 2U.
using Patch = std::array<int, 6>;
inline constexpr std::size_t kPatchU = 4;
inline constexpr std::size_t kPatchV = 5;
inline constexpr std::size_t kCodebookEntries = 256;

// The squared distance of two patches, chroma weighted by what it costs
// the picture.
int PatchDistance(const Patch& a, const Patch& b);

// The codebook's entry nearest to the patch, and its distance.
std::size_t NearestEntry(const std::vector<Patch>& codebook, const Patch& patch, int& distance);

// At most kCodebookEntries patches standing for the given ones: every
// distinct patch when there are no more, else the median cut refined by
// k-means. Integer arithmetic and a total order throughout, so that every
// build trains the same codebook.
std::vector<Patch> TrainCodebook(std::vector<Patch> patches);

// sum / count rounded half away from zero, for a positive count.
inline long long RoundedDivide(long long sum, long long count) {
  return sum >= 0 ? (sum + count / 2) / count : -((-sum + count / 2) / count);
}

}  // namespace morvane
