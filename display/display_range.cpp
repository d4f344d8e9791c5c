#include "display/display_range.h"

#include <array>
#include <bit>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "display/pixel_formulas.h"
#include "fits/text_numbers.h"
#include "fits/wide_loops.h"

namespace {

constexpr int kBins = 301;

// The pixel value that the walks turn a bin into: (i / 300) x r + PixelMin + 0.5, rounded down.
int64_t BinValue(int bin, double r, int32_t pixel_min) {
  return static_cast<int64_t>(std::floor(bin / 300.0 * r + pixel_min + 0.5));
}

// Sky frames crowd into a few bins or values: several sets of counters, taken in turn, keep
// consecutive increments of one counter from waiting on each other.
template <int kSets>
void CountInSets(const uint16_t* indexes, int count, uint32_t* counters, size_t set_size) {
  int i = 0;
  for (; i + kSets <= count; i += kSets)
    for (int set = 0; set < kSets; ++set) ++counters[set * set_size + indexes[i + set]];
  for (; i < count; ++i) ++counters[indexes[i]];
}

// Counts every value of the frame by its difference from `low` (below `values`) in kSets sets of
// counters, one after the other; a pixel outside goes to `outside`.
template <int kSets, typename Outside>
void CountValues(const FrameStore& store, FrameExtent extent, int32_t low, size_t values,
                 std::vector<uint32_t>& counters, Outside outside) {
  counters.assign(values * kSets, 0);
  uint32_t* sets[kSets];
  for (int set = 0; set < kSets; ++set) sets[set] = counters.data() + set * values;
  const auto count = [&](uint32_t* set, const int32_t* value) {
    const uint32_t d = static_cast<uint32_t>(*value) - static_cast<uint32_t>(low);
    if (d < values) [[likely]] ++set[d];
    else outside(value);
  };
  for (int y = 0; y < extent.height; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    int x = 0;
    for (; x + kSets <= extent.width; x += kSets)
      for (int set = 0; set < kSets; ++set) count(sets[set], row + x + set);
    for (; x < extent.width; ++x) count(sets[0], row + x);
  }
  for (int set = 1; set < kSets; ++set)
    for (size_t d = 0; d < values; ++d) counters[d] += sets[set][d];
}

// True when every difference d = value - from of the row is at most `span` and has no bit of
// `below_step` set.
QOR_WITH_AVX2_COPY bool RowOnStep(const int32_t* row, int width, uint32_t from, uint32_t below_step, uint32_t span) {
  uint32_t off_step = 0, beyond = 0;
  for (int x = 0; x < width; ++x) {
    const uint32_t d = static_cast<uint32_t>(row[x]) - from;
    off_step |= d & below_step;
    beyond |= static_cast<uint32_t>(d > span);
  }
  return (off_step | beyond) == 0;
}

// The same for differences that are all multiples of 2^shift (shift above 0), counted by
// d / 2^shift. The test of the step would cost more than the count: each row is tested first in
// wide registers, and counted without a test where all of it is on the step and within span.
template <typename Outside>
void CountSteppedValues(const FrameStore& store, FrameExtent extent, int32_t low, uint32_t span, int shift,
                        std::vector<uint32_t>& counters, Outside outside) {
  constexpr int kSets = 4;
  const size_t values = (span >> shift) + 1;
  const uint32_t from = static_cast<uint32_t>(low), below_step = (uint32_t{1} << shift) - 1;
  counters.assign(values * kSets, 0);
  uint32_t* sets[kSets];
  for (int set = 0; set < kSets; ++set) sets[set] = counters.data() + set * values;
  for (int y = 0; y < extent.height; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    if (!RowOnStep(row, extent.width, from, below_step, span)) [[unlikely]] {
      for (int x = 0; x < extent.width; ++x) {
        const uint32_t d = static_cast<uint32_t>(row[x]) - from;
        if ((d & below_step) == 0 && d <= span) ++sets[0][d >> shift];
        else outside(row + x);
      }
      continue;
    }
    int x = 0;
    for (; x + kSets <= extent.width; x += kSets)
      for (int set = 0; set < kSets; ++set) ++sets[set][(static_cast<uint32_t>(row[x + set]) - from) >> shift];
    for (; x < extent.width; ++x) ++sets[0][(static_cast<uint32_t>(row[x]) - from) >> shift];
  }
  for (int set = 1; set < kSets; ++set)
    for (size_t d = 0; d < values; ++d) counters[d] += sets[set][d];
}

// Frames of 32-bit samples often hold fewer significant bits moved up (a 16-bit camera's values
// times 16, say), so that every difference from the minimum is a multiple of 2^k. The step is
// guessed from every 37th row; a pixel that does not follow it is still counted exactly, one by one.
int StepOfValues(const FrameStore& store, FrameExtent extent, int32_t low) {
  uint32_t differences = 0;
  for (int y = 0; y < extent.height; y += 37) {
    const int32_t* row = &store.Pixel(0, y);
    for (int x = 0; x < extent.width; ++x) differences |= static_cast<uint32_t>(row[x]) - static_cast<uint32_t>(low);
  }
  return differences == 0 ? 0 : std::countr_zero(differences);
}

void CountBins(const FrameStore& store, FrameExtent extent, int64_t range, double width,
               std::array<int64_t, kBins>& counts) {
  constexpr int kSets = 4;
  std::array<uint32_t, kSets * kBins> bins{};
  const int32_t low = store.PixelMin;
  const uint32_t span = static_cast<uint32_t>(range);
  const int shift = range < 65536 ? 0 : StepOfValues(store, extent, low);
  if ((span >> shift) < 65536) {
    // At most 65536 distinct values: count each value, then find the bins of the values once.
    // Few values (8-bit frames) crowd the most, and their sets are small.
    const size_t values = (span >> shift) + 1;
    static thread_local std::vector<uint32_t> value_counts;
    // Outside the extremes (the reader never leaves such a pixel) or off the step: the formula.
    const auto outside = [&](const int32_t* value) {
      uint16_t bin;
      HistogramBins(value, 1, low, width, &bin);
      ++bins[bin];
    };
    if (shift > 0) CountSteppedValues(store, extent, low, span, shift, value_counts, outside);
    else if (values <= 4096) CountValues<8>(store, extent, low, values, value_counts, outside);
    else CountValues<4>(store, extent, low, values, value_counts, outside);
    std::vector<int32_t> every_value(values);
    for (size_t i = 0; i < values; ++i)
      every_value[i] = static_cast<int32_t>(low + (static_cast<int64_t>(i) << shift));
    std::vector<uint16_t> value_bins(values);
    HistogramBins(every_value.data(), static_cast<int>(values), low, width, value_bins.data());
    for (size_t i = 0; i < values; ++i) bins[value_bins[i]] += value_counts[i];
  } else {
    static thread_local std::vector<uint16_t> row_bins;
    row_bins.resize(static_cast<size_t>(extent.width));
    for (int y = 0; y < extent.height; ++y) {
      HistogramBins(&store.Pixel(0, y), extent.width, low, width, row_bins.data());
      CountInSets<kSets>(row_bins.data(), extent.width, bins.data(), kBins);
    }
  }
  for (int set = 0; set < kSets; ++set)
    for (int i = 0; i < kNoBin; ++i) counts[i] += bins[set * kBins + i];
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
    CountBins(store, extent, range, width, counts);
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
