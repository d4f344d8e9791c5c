// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/colour_path.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <vector>

#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/pixel_formulas.h"
#include "base/second_core.h"
#include "fits/wide_loops.h"
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include "fits/header_text.h"
#include "fits/text_numbers.h"

namespace {

int ColourIndex(char letter) { return letter == 'R' ? 0 : letter == 'G' ? 1 : 2; }

// The luminance of a row of a mosaic's 2 x 2 cells, each weight being a site's gain over 4, in
// single precision (the luminance only places values in the histogram's 301 bins), kept within
// 32 bits and rounded; with the row's extremes. From cell `first` on.
void MosaicCellsPlain(const int32_t* top, const int32_t* bottom, int first, int cells,
                      const std::array<float, 4>& weight, int32_t* out, int32_t& low, int32_t& high) {
  for (int x = first; x < cells; ++x) {
    float value = weight[0] * static_cast<float>(top[2 * x]) + weight[1] * static_cast<float>(top[2 * x + 1]) +
                  weight[2] * static_cast<float>(bottom[2 * x]) + weight[3] * static_cast<float>(bottom[2 * x + 1]);
    value = std::min(std::max(value + 0.5f, -2147483648.0f), 2147483520.0f);
    const int32_t rounded = static_cast<int32_t>(value);
    out[x] = rounded;
    low = std::min(low, rounded);
    high = std::max(high, rounded);
  }
}

#if defined(__x86_64__)
// Sixteen sites of a row weighed and added in pairs, within each half of the register: cells
// 0 1 4 5 | 2 3 6 7, which the caller puts in order.
[[gnu::target("avx2")]] inline __m256 WeighedPairs(const int32_t* row, __m256 w) {
  const __m256 a = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row))), w);
  const __m256 b = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 8))), w);
  return _mm256_hadd_ps(a, b);
}

// The same, eight cells to a register: 16 sites of each row weighed, their pairs added.
[[gnu::target("avx2")]] void MosaicCellsAvx2(const int32_t* top, const int32_t* bottom, int cells,
                                             const std::array<float, 4>& weight, int32_t* out, int32_t& low,
                                             int32_t& high) {
  const __m256 w_top = _mm256_setr_ps(weight[0], weight[1], weight[0], weight[1], weight[0], weight[1], weight[0], weight[1]);
  const __m256 w_bottom = _mm256_setr_ps(weight[2], weight[3], weight[2], weight[3], weight[2], weight[3], weight[2], weight[3]);
  const __m256 half = _mm256_set1_ps(0.5f), floor = _mm256_set1_ps(-2147483648.0f), ceiling = _mm256_set1_ps(2147483520.0f);
  __m256i lo = _mm256_set1_epi32(low), hi = _mm256_set1_epi32(high);
  int x = 0;
  for (; x + 8 <= cells; x += 8) {
    __m256 sum = _mm256_add_ps(WeighedPairs(top + 2 * x, w_top), WeighedPairs(bottom + 2 * x, w_bottom));
    sum = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sum), 0xD8));
    sum = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(sum, half), floor), ceiling);
    const __m256i rounded = _mm256_cvttps_epi32(sum);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), rounded);
    lo = _mm256_min_epi32(lo, rounded);
    hi = _mm256_max_epi32(hi, rounded);
  }
  LaneExtremes(lo, hi, low, high);
  MosaicCellsPlain(top, bottom, x, cells, weight, out, low, high);
}
#endif

void MosaicCells(const int32_t* top, const int32_t* bottom, int cells, const std::array<float, 4>& weight,
                 int32_t* out, int32_t& low, int32_t& high) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return MosaicCellsAvx2(top, bottom, cells, weight, out, low, high);
#endif
  MosaicCellsPlain(top, bottom, 0, cells, weight, out, low, high);
}

// Sums and counts of each colour's sites in a box of the frame.
struct ColourSums {
  std::array<int64_t, 3> sum{};
  std::array<int64_t, 3> count{};
};

void AddBox(const FrameStore& store, const MosaicLayout& layout, int x0, int x1, int y0, int y1, ColourSums& sums) {
  for (int y = y0; y < y1; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    for (int x = x0; x < x1; ++x) {
      const int colour = layout.Of(x, y);
      sums.sum[static_cast<size_t>(colour)] += row[x];
      ++sums.count[static_cast<size_t>(colour)];
    }
  }
}

// For a one-pixel box away from the frame's edge: its own colour as it is, each other colour the
// mean of that colour's sites among its eight neighbours, which is bilinear demosaicing.
bool TakeNeighbours(const FrameStore& store, const TapPlan& plan, PixelSize frame, int x, int y, int width, int height,
                    ColourSums& sums) {
  if (width != 1 || height != 1 || x < 1 || y < 1 || x + 1 >= frame.width || y + 1 >= frame.height) return false;
  for (size_t c = 0; c < 3; ++c) {
    sums.sum[c] = SumOfTaps(plan[static_cast<size_t>(y & 1)][static_cast<size_t>(x & 1)][c], &store.Pixel(x, y), std::ptrdiff_t{store.Stride});
    sums.count[c] = 4;
  }
  return true;
}

// RoundToInt32 of a value known to be a 32-bit one: the same nearest whole number, halves to even,
// without the checks that cost a box's means a fifth of their time.
int32_t NearestWithin32Bits(double value) {
  constexpr double kMagic = 6755399441055744.0;  // 1.5 x 2^52: the sum keeps no fraction
  return static_cast<int32_t>((value + kMagic) - kMagic);
}

// The means of one row of binned boxes from the column sums of the boxes' even frame rows and of
// their odd ones (`rows` of each), given as running sums of every other column (entry x + 2: the
// sum of columns x, x - 2 ...): each box's columns x0, x0 + 2 ... and x0 + 1, x0 + 3 ... go to the
// colours of their sites. A colour's mean is its sum times its gain over its count. The scaler's
// boxes are of two widths, the first box's and one more: what goes where and the factors depend
// only on a box's first column's parity and its width, and are set up once for the row.
void BinRow(const std::array<const int64_t*, 2>& every_other, const std::array<int64_t, 2>& rows, const int* starts,
            int columns, const MosaicLayout& layout, const std::array<double, 3>& gains, bool in_range,
            const std::array<int32_t*, 3>& means) {
  const int narrow = starts[1] - starts[0];
  // [first column's parity][colour]: the parts whose sums go to the colour; the parts are the even
  // rows' first columns, their second columns, the odd rows' first, second, and a fifth that is 0.
  // A Bayer layout gives each colour one or two of the four.
  std::array<std::array<std::array<size_t, 2>, 3>, 2> parts_of{};
  std::array<std::array<std::array<double, 3>, 2>, 2> factor{};  // [parity][wide][colour]
  for (size_t parity = 0; parity < 2; ++parity) {
    const std::array<size_t, 4> colour_of = {layout.colour[0][parity], layout.colour[0][parity ^ 1],
                                             layout.colour[1][parity], layout.colour[1][parity ^ 1]};
    for (size_t c = 0; c < 3; ++c) {
      parts_of[parity][c] = {4, 4};
      for (size_t part = 0, taken = 0; part < 4 && taken < 2; ++part)
        if (colour_of[part] == c) parts_of[parity][c][taken++] = part;
    }
    for (size_t wide = 0; wide < 2; ++wide) {
      const int64_t width = narrow + static_cast<int64_t>(wide), second = width / 2, first = width - second;
      const std::array<int64_t, 4> counts = {rows[0] * first, rows[0] * second, rows[1] * first, rows[1] * second};
      std::array<int64_t, 3> count{};
      for (size_t part = 0; part < 4; ++part) count[colour_of[part]] += counts[part];
      for (size_t c = 0; c < 3; ++c) factor[parity][wide][c] = count[c] > 0 ? gains[c] / static_cast<double>(count[c]) : 0;
    }
  }
  for (int px = 0; px < columns; ++px) {
    const int x0 = starts[px], x1 = starts[px + 1];
    // The last of the columns x0, x0 + 2 ... and of x0 + 1, x0 + 3 ... before x1.
    const int last_first = x1 - 1 - ((x1 - 1 - x0) & 1), last_second = x1 - 1 - ((x1 - x0) & 1);
    std::array<int64_t, 5> part{};
    for (size_t rows_parity = 0; rows_parity < 2; ++rows_parity) {
      const int64_t* running = every_other[rows_parity];
      part[2 * rows_parity] = running[last_first + 2] - running[x0];
      part[2 * rows_parity + 1] = running[last_second + 2] - running[x0 + 1];
    }
    const size_t parity = static_cast<size_t>(x0 & 1), wide = static_cast<size_t>(x1 - x0 - narrow);
    for (size_t c = 0; c < 3; ++c) {
      const int64_t sum = part[parts_of[parity][c][0]] + part[parts_of[parity][c][1]];
      const double mean = static_cast<double>(sum) * factor[parity][wide < 2 ? wide : 0][c];
      means[c][px] = in_range ? NearestWithin32Bits(mean) : RoundToInt32(mean);
    }
  }
}

void AddPlanes(const FrameStore& store, int x0, int x1, int y0, int y1, ColourSums& sums) {
  for (size_t c = 0; c < 3; ++c) {
    const int32_t* plane = store.Plane(static_cast<int>(c));
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sums.sum[c] += plane[x + static_cast<size_t>(store.Stride) * y];
    sums.count[c] = int64_t{x1 - x0} * (y1 - y0);
  }
}

}  // namespace

std::optional<MosaicLayout> MosaicOf(const FrameStore& store) {
  const std::optional<std::string> pattern = HeaderValueText(store, "BAYERPAT");
  if (!pattern || pattern->size() != 4) return std::nullopt;
  std::string upper = *pattern;
  for (char& letter : upper) letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (upper != "RGGB" && upper != "BGGR" && upper != "GRBG" && upper != "GBRG") return std::nullopt;
  std::array<int, 4> colours{};
  for (size_t i = 0; i < 4; ++i) colours[i] = ColourIndex(upper[i]);
  const auto offset = [&](const char* keyword) {
    const std::optional<std::string> text = HeaderValueText(store, keyword);
    return text ? static_cast<int>(std::lround(NumericValueOfText(*text))) : 0;
  };
  const int x_offset = offset("XBAYROFF"), y_offset = offset("YBAYROFF");
  const std::optional<std::string> order = HeaderValueText(store, "ROWORDER");
  const bool bottom_up = order && *order == "BOTTOM-UP";
  const int height = WalkableAxis(store.Naxis2, store.SideLimit()).value_or(0);
  MosaicLayout layout;
  for (int stored_row = 0; stored_row < 2; ++stored_row)
    for (int column = 0; column < 2; ++column) {
      // The pattern names the image seen top-down; bottom-up files store its last row first.
      const int image_row = bottom_up ? ((height - 1 - stored_row) & 1) : stored_row;
      const int row = (image_row + y_offset) & 1, col = (column + x_offset) & 1;
      layout.colour[static_cast<size_t>(stored_row)][static_cast<size_t>(column)] =
          static_cast<uint8_t>(colours[static_cast<size_t>(row * 2 + col)]);
    }
  return layout;
}

ColourPath::ColourPath() = default;
ColourPath::~ColourPath() = default;

bool ColourPath::Applies(const FrameStore& store) {
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width < 2 || extent.height < 2) return false;
  planes_ = store.ColourPlaneCount == 2;
  if (planes_) return true;
  const std::optional<MosaicLayout> layout = MosaicOf(store);
  if (!layout) return false;
  layout_ = *layout;
  return true;
}

void ColourPath::Balance(const FrameStore& store) {
  if (fixed_gains_) {
    gains_ = *fixed_gains_;
    return;
  }
  // The median of each colour's sites, from pairs of rows and pairs of columns spread over the
  // frame: some four thousand sites, which place the background's median well within its noise
  // and take a few microseconds.
  const FrameExtent extent = WalkableExtent(store);
  std::array<std::vector<int32_t>, 3> sites;
  for (std::vector<int32_t>& colour : sites) colour.reserve(4096);
  const int row_step = std::max(2, extent.height / 16 * 2), column_step = std::max(2, extent.width / 64 / 2 * 2);
  for (int y = 0; y + 1 < extent.height; y += row_step)
    for (int row = y; row < y + 2; ++row)
      for (int x = 0; x + 1 < extent.width; x += column_step)
        for (int column = x; column < x + 2; ++column) {
          if (!planes_) {
            sites[static_cast<size_t>(layout_.Of(column, row))].push_back(store.Pixel(column, row));
            continue;
          }
          for (int c = 0; c < 3; ++c)
            sites[static_cast<size_t>(c)].push_back(store.Plane(c)[column + static_cast<size_t>(store.Stride) * row]);
        }
  std::array<double, 3> median{};
  for (size_t c = 0; c < 3; ++c) {
    std::vector<int32_t>& values = sites[c];
    if (values.empty()) continue;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    median[c] = values[values.size() / 2];
  }
  // Bounded as a user's gains are: a frame whose colours differ by more than a hundredfold is no
  // sky to balance, and larger gains would overflow the renders' 64-bit sums.
  for (size_t c = 0; c < 3; ++c)
    gains_[c] = median[c] > 0 && median[1] > 0 ? std::clamp(median[1] / median[c], kSmallestGain, kLargestGain) : 1.0;
}

namespace {

// The luminance averages each colour's own noise down, so on a sky with bright stars its values
// crowd into the histogram's first two bins, where the smoothed walk finds no band and the last
// frame's range, far off, would stay. The histogram is then taken again over the values up to a
// few bins past the peak, which spreads the sky over it, until a band is found (a few times at
// most: each pass narrows the range a hundredfold).
void ZoomOntoTheSky(FrameStore& luminance, int peak) {
  for (int pass = 0; pass < 4 && peak <= 1; ++pass) {
    const double r = static_cast<double>(int64_t{luminance.PixelMax} - luminance.PixelMin);
    const int64_t top = static_cast<int64_t>(std::floor((peak + 3) / 300.0 * r + luminance.PixelMin + 0.5));
    if (r <= 0 || top >= luminance.PixelMax || top - luminance.PixelMin < 3) return;
    luminance.PixelMax = static_cast<int32_t>(top);
    peak = ComputeDisplayRange(luminance);
  }
}

}  // namespace

void ColourPath::ComputeRange(FrameStore& store) {
  Balance(store);
  if (!luminance_) luminance_ = std::make_unique<FrameStore>();
  FrameStore& luminance = *luminance_;
  const FrameExtent extent = WalkableExtent(store);
  const int width = extent.width / 2, height = extent.height / 2;
  // Half a large frame's sides may be beyond the design's; the cells need only fit.
  luminance.LargeFrames = store.LargeFrames;
  if (!luminance.MakeRoom(width, height, false)) return;
  // A cell's mean: one red, two green and one blue site of a mosaic; of planes, red, green twice
  // and blue, as a mosaic has them. Gains in 1/1024ths.
  std::array<int64_t, 3> gain{};
  for (size_t c = 0; c < 3; ++c) gain[c] = std::llround(gains_[c] * 1024);
  // The weight of each position of a 2 x 2 cell (cells start on even columns and rows).
  const std::array<float, 4> weight = {
      static_cast<float>(gains_[layout_.colour[0][0]] / 4), static_cast<float>(gains_[layout_.colour[0][1]] / 4),
      static_cast<float>(gains_[layout_.colour[1][0]] / 4), static_cast<float>(gains_[layout_.colour[1][1]] / 4)};
  const auto cells = [&](int first_row, int end_row, int32_t& low, int32_t& high) {
    for (int y = first_row; y < end_row; ++y) {
      int32_t* out = &luminance.Pixel(0, y);
      if (!planes_) {
        MosaicCells(&store.Pixel(0, 2 * y), &store.Pixel(0, 2 * y + 1), width, weight, out, low, high);
        continue;
      }
      const size_t top = static_cast<size_t>(store.Stride) * (2 * y), bottom = top + static_cast<size_t>(store.Stride);
      for (int x = 0; x < width; ++x) {
        const size_t left = top + 2 * static_cast<size_t>(x), below = bottom + 2 * static_cast<size_t>(x);
        int64_t sum = 0;
        for (const size_t at : {left, left + 1, below, below + 1})
          sum += gain[0] * store.Plane(0)[at] + 2 * gain[1] * store.Plane(1)[at] + gain[2] * store.Plane(2)[at];
        const int32_t value = static_cast<int32_t>(std::clamp<int64_t>((sum / 4 + 2048) >> 12, INT32_MIN, INT32_MAX));
        out[x] = value;
        low = std::min(low, value);
        high = std::max(high, value);
      }
    }
  };
  // Both cores, each with its own extremes.
  std::array<int32_t, 2> lows = {INT32_MAX, INT32_MAX}, highs = {INT32_MIN, INT32_MIN};
  ShareRows(height, [&](int worker, int first, int end) {
    cells(first, end, lows[static_cast<size_t>(worker)], highs[static_cast<size_t>(worker)]);
  });
  const int32_t low = std::min(lows[0], lows[1]), high = std::max(highs[0], highs[1]);
  luminance.Naxis1 = width;
  luminance.Naxis2 = height;
  luminance.PixelMin = low;
  luminance.PixelMax = high;
  // A frame without a qualifying bin keeps the range it had, as the grey picture does.
  luminance.DisplayLow = store.DisplayLow;
  luminance.DisplaySpan = store.DisplaySpan;
  ZoomOntoTheSky(luminance, ComputeDisplayRange(luminance));
  store.DisplayLow = luminance.DisplayLow;
  store.DisplaySpan = luminance.DisplaySpan;
}

namespace {

// What every row of a colour picture shares, worked out once a picture.
struct ColourPlan {
  const FrameStore& store;
  const MosaicLayout& layout;
  const std::array<double, 3>& gains;
  const PictureScaler& scaler;
  bool planes;
  PixelSize frame;
  bool window;  // the design's picture: a window onto the frame's corner, one box a pixel
  int columns = 0, rows = 0;
  TapPlan taps{};
  // A colour's gain over a count of 1 to 4 sites, in 1/65536ths; the four-site ones for a row.
  std::array<std::array<int64_t, 5>, 3> fixed{};
  std::array<int64_t, 3> quarter_gains{};
  int64_t largest = 0;  // the largest magnitude of a sample
  bool means_in_range = false;  // no balanced mean can leave the 32-bit range
  bool single_columns = false, single_rows = false;  // one frame pixel a picture pixel
  bool binned = false;  // boxes of at least 2 x 2 of a mosaic, every colour in each
  std::vector<int> column_starts{};

  int XStart(int px) const { return window ? px : scaler.ColumnStart(px); }
  int YStart(int py) const { return window ? py : scaler.RowStart(py); }

  // A colour's balanced mean of `count` sites summing to `sum`: for the few sites of a pixel's
  // neighbours in whole numbers, else in doubles.
  int32_t BalancedMean(size_t c, int64_t sum, int64_t count) const {
    if (count <= 0) return 0;
    if (count > 4) return RoundToInt32(static_cast<double>(sum) * gains[c] / static_cast<double>(count));
    const int64_t scaled = (sum * fixed[c][static_cast<size_t>(count)] + 32768) >> 16;
    return static_cast<int32_t>(std::clamp<int64_t>(scaled, INT32_MIN, INT32_MAX));
  }
};

// A row's colour means, and the sums of a box row's even and odd frame rows column by column.
struct ColourRow {
  std::array<std::vector<int32_t>, 3> means;
  std::array<std::vector<int64_t>, 2> column_sums;
  std::array<int32_t*, 3> Means() { return {means[0].data(), means[1].data(), means[2].data()}; }
};

// A mosaic at one frame pixel a picture pixel, away from the frame's edge: the row's inner pixels
// at once. Returns the end of what it did (0: nothing).
int DemosaicInnerRow(const ColourPlan& plan, int py, ColourRow& row) {
  if (!plan.single_columns || !plan.single_rows || plan.planes || py < 1 || py + 1 >= plan.frame.height) return 0;
  const int end = std::min(plan.columns, plan.frame.width - 1);
  if (end <= 1) return 0;
  DemosaicRow(&plan.store.Pixel(0, py), std::ptrdiff_t{plan.store.Stride}, 1, end, plan.taps[static_cast<size_t>(py & 1)],
              plan.quarter_gains, plan.largest, row.Means());
  return end;
}

// Boxes of at least 2 x 2 hold every colour: the box's even frame rows and its odd ones are added
// column by column, then each box's even and odd columns of those sums go to the colours of their
// sites.
void BinBoxRow(const ColourPlan& plan, int py, ColourRow& row) {
  const int y0 = plan.YStart(py), y1 = plan.YStart(py + 1);
  const std::array<int, 2> first = {y0 + (y0 & 1), y0 + 1 - (y0 & 1)};
  std::array<int64_t, 2> row_count{};
  for (size_t parity = 0; parity < 2; ++parity) {
    std::vector<int64_t>& sums = row.column_sums[parity];
    sums.resize(static_cast<size_t>(plan.frame.width) + 2);
    row_count[parity] = (y1 - first[parity] + 1) / 2;
    AddRowsByColumn(&plan.store.Pixel(0, first[parity]), 2 * static_cast<size_t>(plan.store.Stride),
                    static_cast<int>(row_count[parity]), plan.frame.width, sums.data() + 2);
    // Running sums of every other column: a box's columns of one parity are then one difference,
    // whatever its width, with no branch to mispredict on boxes of 3 and 4 columns in turn.
    sums[0] = sums[1] = 0;
    for (size_t x = 2; x < sums.size(); ++x) sums[x] += sums[x - 2];
  }
  BinRow({row.column_sums[0].data(), row.column_sums[1].data()}, row_count, plan.column_starts.data(), plan.columns,
         plan.layout, plan.gains, plan.means_in_range, row.Means());
}

// One picture pixel's box, summed site by site: three planes, a pixel's neighbours, or a box and,
// for a colour it has no site of, its neighbours too.
void BoxPixel(const ColourPlan& plan, int px, int py, ColourRow& row) {
  const int x0 = plan.XStart(px), x1 = plan.XStart(px + 1), y0 = plan.YStart(py), y1 = plan.YStart(py + 1);
  const FrameStore& store = plan.store;
  ColourSums box;
  if (plan.planes) {
    AddPlanes(store, x0, x1, y0, y1, box);
  } else if (!TakeNeighbours(store, plan.taps, plan.frame, x0, y0, x1 - x0, y1 - y0, box)) {
    AddBox(store, plan.layout, x0, x1, y0, y1, box);
    if (box.count[0] == 0 || box.count[1] == 0 || box.count[2] == 0) {
      ColourSums around;
      AddBox(store, plan.layout, std::max(0, x0 - 1), std::min(plan.frame.width, x1 + 1), std::max(0, y0 - 1),
             std::min(plan.frame.height, y1 + 1), around);
      for (size_t c = 0; c < 3; ++c)
        if (box.count[c] == 0) box.sum[c] = around.sum[c], box.count[c] = around.count[c];
    }
  }
  for (size_t c = 0; c < 3; ++c) row.means[c][static_cast<size_t>(px)] = plan.BalancedMean(c, box.sum[c], box.count[c]);
}

}  // namespace

void ColourPath::Render(FrameStore& store, PictureSurface& picture, const PictureSize& size) {
  RescaleDisplayRange(store);
  const FrameExtent extent = WalkableExtent(store);
  const PixelSize frame{extent.width, extent.height};
  const PixelSize shown = PicturePixels(size, frame);
  picture.Resize(shown.width, shown.height);
  ColourPlan plan{store, layout_, gains_, scaler_, planes_, frame, size.design()};
  // A scaled picture's every pixel is drawn below; the design's window may show less frame.
  if (plan.window) picture.Cls();
  if (!plan.window) scaler_.Plan(frame, shown);
  plan.columns = plan.window ? std::min(frame.width, shown.width) : shown.width;
  plan.rows = plan.window ? std::min(frame.height, shown.height) : shown.height;
  plan.taps = PlanTaps(layout_);
  for (size_t c = 0; c < 3; ++c)
    for (size_t count = 1; count <= 4; ++count)
      plan.fixed[c][count] = std::llround(gains_[c] / static_cast<double>(count) * 65536);
  plan.quarter_gains = {plan.fixed[0][4], plan.fixed[1][4], plan.fixed[2][4]};
  plan.largest = std::max(std::abs(int64_t{store.PixelMin}), std::abs(int64_t{store.PixelMax}));
  // A mean is no larger than the largest sample; the gain scales it.
  plan.means_in_range = static_cast<double>(plan.largest) * std::max({gains_[0], gains_[1], gains_[2]}) < 2147483647.0;
  plan.single_columns = plan.window || shown.width == frame.width;
  plan.single_rows = plan.window || shown.height == frame.height;
  plan.binned = !plan.window && !planes_;
  for (int px = 0; plan.binned && px < plan.columns; ++px) plan.binned = plan.XStart(px + 1) - plan.XStart(px) >= 2;
  for (int py = 0; plan.binned && py < plan.rows; ++py) plan.binned = plan.YStart(py + 1) - plan.YStart(py) >= 2;
  for (int px = 0; plan.binned && px <= plan.columns; ++px) plan.column_starts.push_back(scaler_.ColumnStart(px));

  // The raster's rows, taken on this thread: the first write to a shared raster copies it.
  std::vector<uint32_t*> picture_rows(static_cast<size_t>(plan.rows));
  for (int py = 0; py < plan.rows; ++py) picture_rows[static_cast<size_t>(py)] = picture.Row(py);
  ShareRows(plan.rows, [&](int, int first_row, int end_row) {
    ColourRow row;
    for (std::vector<int32_t>& means : row.means) means.resize(static_cast<size_t>(plan.columns));
    for (int py = first_row; py < end_row; ++py) {
      // Whole rows at once where the boxes allow; the pixels left (all, or the frame's edge) one
      // by one.
      int done_first = plan.columns, done_end = plan.columns;
      if (plan.binned) {
        BinBoxRow(plan, py, row);
        done_first = 0;
      } else if (const int inner_end = DemosaicInnerRow(plan, py, row); inner_end > 1) {
        done_first = 1;
        done_end = inner_end;
      }
      for (int px = 0; px < plan.columns; ++px) {
        if (px == done_first) px = done_end;
        if (px >= plan.columns) break;
        BoxPixel(plan, px, py, row);
      }
      ColourPixels({row.means[0].data(), row.means[1].data(), row.means[2].data()}, plan.columns, store.DisplayLow, store.DisplaySpan, picture_rows[static_cast<size_t>(py)]);
    }
  });
  picture.Changed();
}
