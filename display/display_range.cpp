#include "display/display_range.h"

#include <array>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fits/text_numbers.h"

namespace {

constexpr int kBins = 301;
// Frames whose value range is at most this wide get their bins from a table computed with the
// very same formula per value, instead of two divisions per pixel.
constexpr int64_t kTableLimit = int64_t{1} << 22;

// The pixel value that the walks turn a bin into: (i / 300) x r + PixelMin + 0.5, rounded down.
int64_t BinValue(int bin, double r, int32_t pixel_min) {
  return static_cast<int64_t>(std::floor(bin / 300.0 * r + pixel_min + 0.5));
}

void CountDirect(const FrameStore& store, FrameExtent extent, double width,
                 std::array<int64_t, kBins>& counts) {
  for (int y = 0; y < extent.height; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    for (int x = 0; x < extent.width; ++x) {
      const int bin = HistogramBin(static_cast<double>(int64_t{row[x]} - store.PixelMin), width);
      if (bin >= 0) ++counts[bin];
    }
  }
}

void CountByTable(const FrameStore& store, FrameExtent extent, int64_t range, double width,
                  std::array<int64_t, kBins>& counts) {
  static thread_local std::vector<uint16_t> table;
  table.resize(static_cast<size_t>(range) + 1);
  // The bin grows with d (each step of the formula is monotonic), so the table is 300 runs of
  // equal bins: find where each bin starts with the formula itself, then fill the runs.
  const auto raw_bin = [width](int64_t d) { return std::floor(static_cast<double>(d) / width + 0.5); };
  int64_t start = 0;
  for (int bin = 0; bin <= 300; ++bin) {
    int64_t low = start, high = range + 1;  // the first d in [low, high) whose bin reaches `bin`
    while (low < high) {
      const int64_t middle = low + (high - low) / 2;
      if (raw_bin(middle) >= bin) high = middle;
      else low = middle + 1;
    }
    std::fill(table.begin() + start, table.begin() + low, static_cast<uint16_t>(bin - 1));
    start = low;
  }
  // Bin 300 and above are never counted: they go to an extra counter at the end.
  std::fill(table.begin() + start, table.end(), static_cast<uint16_t>(kBins));
  const int32_t low = store.PixelMin;
  const uint32_t span = static_cast<uint32_t>(range);
  // Bin 300 and above are never counted: they go to an extra counter at the end.
  const auto bin_outside = [&](int32_t value) -> int {
    const int bin = HistogramBin(static_cast<double>(int64_t{value} - low), width);
    return bin >= 0 ? bin : kBins;
  };
  std::array<std::array<uint32_t, kBins + 1>, 8> lanes{};
  if (range < 65536) {
    // At most 65536 distinct values: count each value, then add the counts up bin by bin, which
    // spares every pixel the look-up of its bin.
    static thread_local std::vector<uint32_t> values;
    values.assign(static_cast<size_t>(range) + 1, 0);
    for (int y = 0; y < extent.height; ++y) {
      const int32_t* row = &store.Pixel(0, y);
      for (int x = 0; x < extent.width; ++x) {
        const uint32_t d = static_cast<uint32_t>(row[x]) - static_cast<uint32_t>(low);
        if (d <= span) [[likely]] ++values[d];
        else ++lanes[1][bin_outside(row[x])];
      }
    }
    for (size_t d = 0; d < values.size(); ++d) lanes[0][table[d]] += values[d];
  } else {
    // Sky frames crowd into a few bins: eight sets of counters keep consecutive increments of
    // the same bin from waiting on each other.
    const auto bin_of = [&](int32_t value) -> int {
      const uint32_t d = static_cast<uint32_t>(value) - static_cast<uint32_t>(low);
      if (d <= span) [[likely]] return table[d];
      return bin_outside(value);
    };
    for (int y = 0; y < extent.height; ++y) {
      const int32_t* row = &store.Pixel(0, y);
      int x = 0;
      for (; x + 8 <= extent.width; x += 8)
        for (int lane = 0; lane < 8; ++lane) ++lanes[lane][bin_of(row[x + lane])];
      for (; x < extent.width; ++x) ++lanes[0][bin_of(row[x])];
    }
  }
  for (const auto& lane : lanes)
    for (int i = 0; i < kBins; ++i) counts[i] += lane[i];
}

}  // namespace

int HistogramBin(double d, double bin_width) {
  const double bin = std::floor(d / bin_width + 0.5);
  return bin >= 0 && bin < 300 ? static_cast<int>(bin) : -1;
}

std::array<int64_t, kBins> CountHistogram(const FrameStore& store) {
  std::array<int64_t, kBins> counts{};
  const FrameExtent extent = WalkableExtent(store);
  const int64_t range = int64_t{store.PixelMax} - store.PixelMin;
  // A width of zero or below has no histogram: nothing is counted and the range is kept.
  if (range > 0 && extent.width > 0 && extent.height > 0) {
    const double width = static_cast<double>(range) / 300;
    if (range <= kTableLimit) CountByTable(store, extent, range, width, counts);
    else CountDirect(store, extent, width, counts);
  }
  return counts;
}

void ComputeDisplayRange(FrameStore& store) {
  const std::array<int64_t, kBins> counts = CountHistogram(store);
  const double r = static_cast<double>(int64_t{store.PixelMax} - store.PixelMin);

  int peak = 0;
  int64_t peak_count = 0;
  for (int i = 0; i < kBins; ++i)
    if (counts[i] > peak_count) {
      peak = i;
      peak_count = counts[i];
    }

  std::array<double, kBins> smoothed{};
  for (int i = 2; i <= 298; ++i) {
    double sum = 0;
    for (int j = i - 2; j <= i + 2; ++j) sum += static_cast<double>(counts[j]) * static_cast<double>(counts[j]);
    smoothed[i] = std::sqrt(sum) / 5;
  }
  const double threshold = 0.1 * smoothed[peak];

  for (int i = peak; i >= 0; --i)
    if (smoothed[i] < threshold) {
      store.DisplayLow = SaturateToInt32(BinValue(i, r, store.PixelMin));
      break;
    }
  for (int i = peak; i <= 300; ++i)
    if (smoothed[i] < threshold) {
      store.DisplaySpan = SaturateToInt32(BinValue(i, r, store.PixelMin) - store.DisplayLow);
      break;
    }
  if (store.DisplaySpan < 1) store.DisplaySpan = 1;
}
