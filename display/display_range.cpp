#include "display/display_range.h"

#include <array>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "display/bin_window.h"
#include "display/pixel_formulas.h"
#include "base/second_core.h"
#include "fits/text_numbers.h"

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

// How a frame's pixels are counted: in a window of a few bins where nearly all of them lie, or
// straight into their bins.
struct CountPlan {
  int32_t low = 0;
  double width = 0;
  bool in_window = false;
  BinWindow window;
};

// What one thread counts over its rows: pixels that went straight to their bins, and pixels in
// the window.
constexpr int kBinSets = 4;
struct Tally {
  std::array<uint32_t, kBinSets * kBins> bins{};
  std::array<int64_t, BinWindow::kMaxBins + 1> below_starts{};
};

// The rows [first_row, end_row) of the frame, `width` pixels each.
struct Rows {
  const FrameStore& store;
  int width, first_row, end_row;
  const int32_t* Row(int y) const { return &store.Pixel(0, y); }
};

// Every pixel's bin from the formula, a row at a time, then counted: for frames whose pixels
// spread beyond a window of a few bins.
void CountIntoBins(const Rows& rows, const CountPlan& plan, Tally& tally) {
  std::vector<uint16_t> row_bins(static_cast<size_t>(rows.width));
  for (int y = rows.first_row; y < rows.end_row; ++y) {
    HistogramBins(rows.Row(y), rows.width, plan.low, plan.width, row_bins.data());
    CountInSets<kBinSets>(row_bins.data(), rows.width, tally.bins.data(), kBins);
  }
}

// The window's pixels by comparison; the few others with the formula, a row's worth at a time.
// On every sample format of the benchmark's sky (bench/run_benchmarks.sh) the window holds nearly
// every pixel, and this count takes 0.21-0.24 ms against 0.91-0.95 ms for the formula on every
// pixel (1537 x 1537, this machine).
void CountInWindow(const Rows& rows, const CountPlan& plan, Tally& tally) {
  std::vector<uint16_t> uncounted(static_cast<size_t>(rows.width)), bins(static_cast<size_t>(rows.width));
  std::vector<int32_t> values(static_cast<size_t>(rows.width));
  for (int y = rows.first_row; y < rows.end_row; ++y) {
    const int32_t* row = rows.Row(y);
    const int found = CountRowInWindow(row, rows.width, plan.window, tally.below_starts, uncounted.data());
    for (int i = 0; i < found; ++i) values[i] = row[uncounted[i]];
    HistogramBins(values.data(), found, plan.low, plan.width, bins.data());
    CountInSets<kBinSets>(bins.data(), found, tally.bins.data(), kBins);
  }
}

void CountRows(const Rows& rows, const CountPlan& plan, Tally& tally) {
  if (plan.in_window) CountInWindow(rows, plan, tally);
  else CountIntoBins(rows, plan, tally);
}

// For bins 0 to 300, the smallest 32-bit value whose bin by the formula (before any clamping) is
// that bin or more; 2^31 where there is none. The formula never decreases as the value grows, so
// a guess from the bin's edge, moved by a value or two, finds it exactly.
std::array<int64_t, kBins> FirstValuesOfBins(int32_t low, double width) {
  std::array<int64_t, kBins> starts{};
  for (int bin = 0; bin < kBins; ++bin) {
    const auto reaches = [&](int64_t value) {
      return std::floor((static_cast<double>(value) - static_cast<double>(low)) / width + 0.5) >= bin;
    };
    const double edge = std::ceil(static_cast<double>(low) + (bin - 0.5) * width);
    int64_t value = static_cast<int64_t>(std::clamp(edge, double{INT32_MIN}, double{INT32_MAX} + 1));
    while (value > INT32_MIN && reaches(value - 1)) --value;
    while (value <= INT32_MAX && !reaches(value)) ++value;
    starts[bin] = value;
  }
  return starts;
}

// A window of 4 or 8 bins that held nearly every pixel of a sample (every 4th pixel of every 53rd
// row), if there is one. Bins that hold no whole value (narrower than 1) cost nothing and are left
// out.
bool PlanWindow(const FrameStore& store, FrameExtent extent, CountPlan& plan) {
  if (!CanCountInWindow() || extent.width < 64 || int64_t{extent.width} * extent.height < (int64_t{1} << 16)) return false;
  std::array<uint32_t, kBinSets * kBins> sets{};
  const int per_row = (extent.width + 3) / 4;
  std::vector<int32_t> row_sample(static_cast<size_t>(per_row));
  std::vector<uint16_t> row_bins(static_cast<size_t>(per_row));
  int64_t sampled = 0;
  for (int y = 0; y < extent.height; y += 53) {
    for (int i = 0; i < per_row; ++i) row_sample[i] = store.Pixel(4 * i, y);
    HistogramBins(row_sample.data(), per_row, plan.low, plan.width, row_bins.data());
    CountInSets<kBinSets>(row_bins.data(), per_row, sets.data(), kBins);
    sampled += per_row;
  }
  std::array<int64_t, kBins> sample{};
  for (int set = 0; set < kBinSets; ++set)
    for (int i = 0; i < kBins; ++i) sample[i] += sets[set * kBins + i];
  const std::array<int64_t, kBins> starts = FirstValuesOfBins(plan.low, plan.width);
  std::vector<int> holding;  // the bins that hold a whole value
  for (int bin = 0; bin < kNoBin; ++bin)
    if (starts[bin] < starts[bin + 1]) holding.push_back(bin);
  // Each pixel outside the window costs many inside it: 4 bins where they hold 99.5 %, else 8
  // where they hold 98 %.
  for (const auto& [bins, share] : {std::pair{4, 0.995}, std::pair{8, 0.98}}) {
    if (holding.size() < static_cast<size_t>(bins)) continue;
    size_t best = 0;
    int64_t best_held = -1;
    for (size_t first = 0; first + bins <= holding.size(); ++first) {
      int64_t held = 0;
      for (int k = 0; k < bins; ++k) held += sample[holding[first + k]];
      if (held > best_held) {
        best = first;
        best_held = held;
      }
    }
    if (best_held < share * static_cast<double>(sampled)) continue;
    const int last = holding[best + bins - 1];
    if (starts[last + 1] > INT32_MAX) return false;  // no 32-bit value ends the window
    plan.window.bins = bins;
    for (int k = 0; k < bins; ++k) {
      plan.window.bin_of[k] = holding[best + k];
      plan.window.starts[k] = static_cast<int32_t>(starts[holding[best + k]]);
    }
    plan.window.starts[bins] = static_cast<int32_t>(starts[last + 1]);
    // Every pixel's distance from the window's start within 32 bits, the window within 16.
    const int64_t first_start = plan.window.starts[0];
    plan.window.narrow = int64_t{store.PixelMax} - first_start <= INT32_MAX &&
                         int64_t{store.PixelMin} - first_start >= INT32_MIN &&
                         plan.window.starts[bins] - first_start <= INT16_MAX;
    return true;
  }
  return false;
}

void CountBins(const FrameStore& store, FrameExtent extent, double width,
               std::array<int64_t, kBins>& counts) {
  CountPlan plan;
  plan.low = store.PixelMin;
  plan.width = width;
  plan.in_window = PlanWindow(store, extent, plan);

  // The count reads the whole stored frame once: the rows go in parts to this thread and the
  // helper, each into its own tally. Both tallies stay with the calling thread, so that their
  // memory is reused from cycle to cycle.
  static thread_local Tally tallies[2];
  for (Tally& tally : tallies) {
    tally.bins.fill(0);
    tally.below_starts.fill(0);
  }
  Tally* const tally = tallies;  // a name of its own: in the helper, `tallies` would be the helper's
  const bool shared = extent.height >= 64 && static_cast<int64_t>(extent.width) * extent.height >= (int64_t{1} << 18) &&
                      UsableCores() > 1;
  const auto count = [&](int worker, int first, int end) { CountRows({store, extent.width, first, end}, plan, tally[worker]); };
  if (shared) ShareRows(extent.height, count);
  else count(0, 0, extent.height);
  std::array<uint32_t, kBins> bins{};
  for (const Tally& each : tallies) {
    for (int set = 0; set < kBinSets; ++set)
      for (int i = 0; i < kBins; ++i) bins[i] += each.bins[set * kBins + i];
    if (plan.in_window)
      for (int k = 0; k < plan.window.bins; ++k)
        bins[plan.window.bin_of[k]] += static_cast<uint32_t>(each.below_starts[k + 1] - each.below_starts[k]);
  }
  for (int i = 0; i < kNoBin; ++i) counts[i] = bins[i];
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
    CountBins(store, extent, width, counts);
  }
  return counts;
}

int ComputeDisplayRange(FrameStore& store) {
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
  return peak;
}
