#include "video/codebook.h"

#include <algorithm>
#include <limits>

namespace morvane {

namespace {

constexpr std::size_t kPatchSize = std::tuple_size_v<Patch>;
// A step of chroma costs the picture about six times a step of one luma:
// it moves three colours of four pixels (squared error in RGB).
constexpr int kChromaWeight = 6;
// Passes of k-means after the median cut: the first two gain the most.
constexpr int kRefinements = 2;

struct Weighted {
  Patch patch;
  long long count;
};

Patch Mean(const std::vector<Weighted>& items, std::size_t begin, std::size_t end) {
  std::array<long long, kPatchSize> sums{};
  long long count = 0;
  for (std::size_t i = begin; i < end; ++i) {
    for (std::size_t a = 0; a < sums.size(); ++a) sums[a] += items[i].patch[a] * items[i].count;
    count += items[i].count;
  }
  Patch mean{};
  for (std::size_t a = 0; a < sums.size(); ++a) mean[a] = static_cast<int>(RoundedDivide(sums[a], count));
  return mean;
}

// A box of the median cut: a run of the distinct patches, and the axis
// along which they spread most (chroma weighted as in PatchDistance).
struct Box {
  std::size_t begin, end;
  std::size_t axis;
  int spread;
};

Box Measure(const std::vector<Weighted>& items, std::size_t begin, std::size_t end) {
  Box box{begin, end, 0, -1};
  for (std::size_t axis = 0; axis < kPatchSize; ++axis) {
    int low = std::numeric_limits<int>::max(), high = std::numeric_limits<int>::min();
    for (std::size_t i = begin; i < end; ++i) {
      low = std::min(low, items[i].patch[axis]);
      high = std::max(high, items[i].patch[axis]);
    }
    const int spread = (high - low) * (axis < kPatchU ? 2 : 5);
    if (spread > box.spread) {
      box.axis = axis;
      box.spread = spread;
    }
  }
  return box;
}

// Splits the widest box at the weighted median of its axis until there are
// as many boxes as entries; each box's mean is an entry.
std::vector<Patch> MedianCut(std::vector<Weighted>& items) {
  std::vector<Box> boxes{Measure(items, 0, items.size())};
  while (boxes.size() < kCodebookEntries) {
    const auto widest = std::max_element(boxes.begin(), boxes.end(),
                                         [](const Box& a, const Box& b) { return a.spread < b.spread; });
    if (widest->spread <= 0) break;
    const Box box = *widest;
    // Ties broken by the whole patch, so that every build cuts alike.
    std::sort(items.begin() + static_cast<std::ptrdiff_t>(box.begin),
              items.begin() + static_cast<std::ptrdiff_t>(box.end),
              [&box](const Weighted& a, const Weighted& b) {
                return a.patch[box.axis] != b.patch[box.axis] ? a.patch[box.axis] < b.patch[box.axis]
                                                              : a.patch < b.patch;
              });
    long long total = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) total += items[i].count;
    long long below = 0;
    std::size_t cut = box.begin + 1;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
      below += items[i].count;
      cut = i + 1;
      if (2 * below >= total) break;
    }
    *widest = Measure(items, box.begin, cut);
    boxes.push_back(Measure(items, cut, box.end));
  }
  std::vector<Patch> codebook;
  for (const Box& box : boxes) codebook.push_back(Mean(items, box.begin, box.end));
  return codebook;
}

// One pass of k-means: each entry moves to the mean of the patches nearest
// to it; an entry that none chose stays.
void Refine(const std::vector<Weighted>& items, std::vector<Patch>& codebook) {
  std::vector<std::array<long long, kPatchSize>> sums(codebook.size());
  std::vector<long long> counts(codebook.size());
  for (const Weighted& item : items) {
    int distance = 0;
    const std::size_t k = NearestEntry(codebook, item.patch, distance);
    for (std::size_t a = 0; a < kPatchSize; ++a) sums[k][a] += item.patch[a] * item.count;
    counts[k] += item.count;
  }
  for (std::size_t k = 0; k < codebook.size(); ++k) {
    if (counts[k] == 0) continue;
    for (std::size_t a = 0; a < kPatchSize; ++a)
      codebook[k][a] = static_cast<int>(RoundedDivide(sums[k][a], counts[k]));
  }
}

}  // namespace

int PatchDistance(const Patch& a, const Patch& b) {
  int luma = 0;
  for (int i = 0; i < 4; ++i) luma += (a[i] - b[i]) * (a[i] - b[i]);
  const int du = a[kPatchU] - b[kPatchU], dv = a[kPatchV] - b[kPatchV];
  return luma + kChromaWeight * (du * du + dv * dv);
}

std::size_t NearestEntry(const std::vector<Patch>& codebook, const Patch& patch, int& distance) {
  std::size_t best = 0;
  distance = std::numeric_limits<int>::max();
  for (std::size_t k = 0; k < codebook.size(); ++k) {
    const int d = PatchDistance(codebook[k], patch);
    if (d < distance) {
      distance = d;
      best = k;
    }
  }
  return best;
}

std::vector<Patch> TrainCodebook(std::vector<Patch> patches) {
  std::sort(patches.begin(), patches.end());
  std::vector<Weighted> distinct;
  for (const Patch& patch : patches) {
    if (!distinct.empty() && distinct.back().patch == patch) {
      ++distinct.back().count;
    } else {
      distinct.push_back({patch, 1});
    }
  }
  std::vector<Patch> codebook;
  if (distinct.size() <= kCodebookEntries) {
    for (const Weighted& item : distinct) codebook.push_back(item.patch);
    return codebook;
  }
  codebook = MedianCut(distinct);
  for (int pass = 0; pass < kRefinements; ++pass) Refine(distinct, codebook);
  return codebook;
}

}  // namespace morvane
