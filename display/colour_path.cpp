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
#include "fits/second_core.h"
#include "fits/header_text.h"
#include "fits/text_numbers.h"

namespace {

int ColourIndex(char letter) { return letter == 'R' ? 0 : letter == 'G' ? 1 : 2; }

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

// A one-pixel box away from the frame's edge: its own colour as it is, each other colour the mean
// of that colour's sites among its eight neighbours (two or four of them): bilinear demosaicing.
// False for any other box, which takes the general way.
bool Bilinear(const FrameStore& store, const MosaicLayout& layout, PixelSize frame, int x, int y, int width,
              int height, ColourSums& sums) {
  if (width != 1 || height != 1 || x < 1 || y < 1 || x + 1 >= frame.width || y + 1 >= frame.height) return false;
  const int32_t* row[3] = {&store.Pixel(0, y - 1), &store.Pixel(0, y), &store.Pixel(0, y + 1)};
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int colour = layout.Of(x + dx, y + dy);
      if ((dx != 0 || dy != 0) && colour == layout.Of(x, y)) continue;  // the own colour: the pixel alone
      sums.sum[static_cast<size_t>(colour)] += row[dy + 1][x + dx];
      ++sums.count[static_cast<size_t>(colour)];
    }
  return true;
}

void AddPlanes(const FrameStore& store, int x0, int x1, int y0, int y1, ColourSums& sums) {
  for (size_t c = 0; c < 3; ++c) {
    const int32_t* plane = store.Plane(static_cast<int>(c));
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sums.sum[c] += plane[x + static_cast<size_t>(FrameStore::kSide) * y];
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
  const int height = WalkableAxis(store.Naxis2).value_or(0);
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
  // The median of each colour's sites, from pairs of rows spread over the frame.
  const FrameExtent extent = WalkableExtent(store);
  std::array<std::vector<int32_t>, 3> sites;
  const int step = std::max(2, extent.height / 32 * 2);
  for (int y = 0; y + 1 < extent.height; y += step)
    for (int dy = 0; dy < 2; ++dy)
      for (int x = 0; x < extent.width; x += (x & 1) ? 3 : 1) {  // two columns of every four
        if (!planes_) {
          sites[static_cast<size_t>(layout_.Of(x, y + dy))].push_back(store.Pixel(x, y + dy));
          continue;
        }
        for (int c = 0; c < 3; ++c)
          sites[static_cast<size_t>(c)].push_back(store.Plane(c)[x + static_cast<size_t>(FrameStore::kSide) * (y + dy)]);
      }
  std::array<double, 3> median{};
  for (size_t c = 0; c < 3; ++c) {
    std::vector<int32_t>& values = sites[c];
    if (values.empty()) continue;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    median[c] = values[values.size() / 2];
  }
  for (size_t c = 0; c < 3; ++c) gains_[c] = median[c] > 0 && median[1] > 0 ? median[1] / median[c] : 1.0;
}

double ColourPath::Balanced(const FrameStore& store, int plane, int x, int y) const {
  return gains_[static_cast<size_t>(plane)] * store.Plane(plane)[x + static_cast<size_t>(FrameStore::kSide) * y];
}

void ColourPath::ComputeRange(FrameStore& store) {
  Balance(store);
  if (!luminance_) luminance_ = std::make_unique<FrameStore>();
  FrameStore& luminance = *luminance_;
  const FrameExtent extent = WalkableExtent(store);
  const int width = extent.width / 2, height = extent.height / 2;
  // A cell's mean: one red, two green and one blue site of a mosaic; of planes, red, green twice
  // and blue, as a mosaic has them. Gains in 1/1024ths.
  std::array<int64_t, 3> gain{};
  for (size_t c = 0; c < 3; ++c) gain[c] = std::llround(gains_[c] * 1024);
  // The gain of each position of a 2 x 2 cell (cells start on even columns and rows).
  const int64_t g00 = gain[layout_.colour[0][0]], g01 = gain[layout_.colour[0][1]];
  const int64_t g10 = gain[layout_.colour[1][0]], g11 = gain[layout_.colour[1][1]];
  const auto cells = [&](int first_row, int end_row, int32_t& low, int32_t& high) {
    for (int y = first_row; y < end_row; ++y) {
      int32_t* out = &luminance.Pixel(0, y);
      const size_t top = static_cast<size_t>(FrameStore::kSide) * (2 * y), bottom = top + FrameStore::kSide;
      for (int x = 0; x < width; ++x) {
        const size_t left = top + 2 * static_cast<size_t>(x), below = bottom + 2 * static_cast<size_t>(x);
        int64_t sum;
        if (planes_) {
          sum = 0;
          for (const size_t at : {left, left + 1, below, below + 1})
            sum += gain[0] * store.Plane(0)[at] + 2 * gain[1] * store.Plane(1)[at] + gain[2] * store.Plane(2)[at];
          sum /= 4;
        } else {
          const int32_t* pixels = store.FramePixels.data();
          sum = g00 * pixels[left] + g01 * pixels[left + 1] + g10 * pixels[below] + g11 * pixels[below + 1];
        }
        const int32_t value = static_cast<int32_t>(std::clamp<int64_t>((sum + 2048) >> 12, INT32_MIN, INT32_MAX));
        out[x] = value;
        low = std::min(low, value);
        high = std::max(high, value);
      }
    }
  };
  int32_t low = INT32_MAX, high = INT32_MIN, low2 = INT32_MAX, high2 = INT32_MIN;
  {
    const int split = height / 2;
    SecondCoreTask lower([&] { cells(split, height, low2, high2); });
    cells(0, split, low, high);
    lower.Join();
  }
  low = std::min(low, low2);
  high = std::max(high, high2);
  luminance.Naxis1 = width;
  luminance.Naxis2 = height;
  luminance.PixelMin = low;
  luminance.PixelMax = high;
  // A frame without a qualifying bin keeps the range it had, as the grey picture does.
  luminance.DisplayLow = store.DisplayLow;
  luminance.DisplaySpan = store.DisplaySpan;
  ComputeDisplayRange(luminance);
  store.DisplayLow = luminance.DisplayLow;
  store.DisplaySpan = luminance.DisplaySpan;
}

void ColourPath::Render(FrameStore& store, PictureSurface& picture, const PictureSize& size) {
  RescaleDisplayRange(store);
  const FrameExtent extent = WalkableExtent(store);
  const PixelSize frame{extent.width, extent.height};
  const PixelSize shown = PicturePixels(size, frame);
  picture.Resize(shown.width, shown.height);
  picture.Cls();
  // The design's picture is a window onto the frame's corner, one box a pixel; another is the
  // whole frame in the scaler's boxes.
  const bool window = size.design();
  if (!window) scaler_.Plan(frame, shown);
  const int columns = window ? std::min(frame.width, shown.width) : shown.width;
  const int rows = window ? std::min(frame.height, shown.height) : shown.height;
  const auto x_start = [&](int px) { return window ? px : scaler_.ColumnStart(px); };
  const auto y_start = [&](int py) { return window ? py : scaler_.RowStart(py); };

  const int32_t low = store.DisplayLow, span = store.DisplaySpan;
  const auto draw_rows = [&](int first_row, int end_row) {
    std::array<std::vector<int32_t>, 3> means;
    std::array<std::vector<uint32_t>, 3> greys;
    for (size_t c = 0; c < 3; ++c) {
      means[c].resize(static_cast<size_t>(columns));
      greys[c].resize(static_cast<size_t>(columns));
    }
    for (int py = first_row; py < end_row; ++py) {
      const int y0 = y_start(py), y1 = y_start(py + 1);
      for (int px = 0; px < columns; ++px) {
        const int x0 = x_start(px), x1 = x_start(px + 1);
        ColourSums box;
        if (planes_) {
          AddPlanes(store, x0, x1, y0, y1, box);
        } else if (!Bilinear(store, layout_, frame, x0, y0, x1 - x0, y1 - y0, box)) {
          AddBox(store, layout_, x0, x1, y0, y1, box);
          if (box.count[0] == 0 || box.count[1] == 0 || box.count[2] == 0) {
            ColourSums around;  // the box and its neighbours, for a colour the box has no site of
            AddBox(store, layout_, std::max(0, x0 - 1), std::min(frame.width, x1 + 1), std::max(0, y0 - 1),
                   std::min(frame.height, y1 + 1), around);
            for (size_t c = 0; c < 3; ++c)
              if (box.count[c] == 0) box.sum[c] = around.sum[c], box.count[c] = around.count[c];
          }
        }
        for (size_t c = 0; c < 3; ++c)
          means[c][static_cast<size_t>(px)] =
              box.count[c] > 0 ? RoundToInt32(static_cast<double>(box.sum[c]) * gains_[c] / box.count[c]) : 0;
      }
      for (size_t c = 0; c < 3; ++c) GreyPixels(means[c].data(), columns, low, span, greys[c].data());
      uint32_t* out = picture.Row(py);
      for (int px = 0; px < columns; ++px)
        out[px] = 0xFF000000u | (greys[0][static_cast<size_t>(px)] & 0xFF0000u) |
                  (greys[1][static_cast<size_t>(px)] & 0xFF00u) | (greys[2][static_cast<size_t>(px)] & 0xFFu);
    }
  };
  {
    const int split = rows / 2;
    SecondCoreTask lower([&] { draw_rows(split, rows); });
    draw_rows(0, split);
    lower.Join();
  }
  picture.Changed();
}
