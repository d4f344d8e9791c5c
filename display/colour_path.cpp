// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/colour_path.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <vector>

#include "display/display_range.h"
#include "display/frame_render.h"
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
  const int step = std::max(2, extent.height / 64 * 2);
  for (int y = 0; y + 1 < extent.height; y += step)
    for (int dy = 0; dy < 2; ++dy)
      for (int x = 0; x < extent.width; ++x) {
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
  int32_t low = INT32_MAX, high = INT32_MIN;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      // A cell's mean: one red, two green and one blue site of a mosaic; of planes, red, green
      // twice and blue, as a mosaic has them.
      double sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const int fx = 2 * x + dx, fy = 2 * y + dy;
          sum += planes_ ? (Balanced(store, 0, fx, fy) + 2 * Balanced(store, 1, fx, fy) + Balanced(store, 2, fx, fy)) / 4
                         : gains_[static_cast<size_t>(layout_.Of(fx, fy))] * store.Pixel(fx, fy);
        }
      const int32_t value = RoundToInt32(sum / 4);
      luminance.Pixel(x, y) = value;
      low = std::min(low, value);
      high = std::max(high, value);
    }
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
  for (int py = 0; py < rows; ++py) {
    const int y0 = window ? py : scaler_.RowStart(py), y1 = window ? py + 1 : scaler_.RowStart(py + 1);
    uint32_t* out = picture.Row(py);
    for (int px = 0; px < columns; ++px) {
      const int x0 = window ? px : scaler_.ColumnStart(px), x1 = window ? px + 1 : scaler_.ColumnStart(px + 1);
      ColourSums box, around;  // around: the box and its neighbours, for a colour the box lacks
      if (planes_) {
        AddPlanes(store, x0, x1, y0, y1, box);
      } else {
        AddBox(store, layout_, x0, x1, y0, y1, box);
        if (box.count[0] == 0 || box.count[1] == 0 || box.count[2] == 0)
          AddBox(store, layout_, std::max(0, x0 - 1), std::min(frame.width, x1 + 1), std::max(0, y0 - 1),
                 std::min(frame.height, y1 + 1), around);
      }
      std::array<int, 3> grey{};
      for (size_t c = 0; c < 3; ++c) {
        const ColourSums& from = box.count[c] > 0 ? box : around;
        const double mean = from.count[c] > 0 ? static_cast<double>(from.sum[c]) / from.count[c] : 0;
        grey[c] = GreyLevel(RoundToInt32(mean * gains_[c]), store.DisplayLow, store.DisplaySpan);
      }
      out[px] = 0xFF000000u | (static_cast<uint32_t>(grey[0]) << 16) | (static_cast<uint32_t>(grey[1]) << 8) |
                static_cast<uint32_t>(grey[2]);
    }
  }
  picture.Changed();
}
