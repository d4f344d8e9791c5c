// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame's pixels averaged onto a picture of another size. The picture's pixels divide the
// frame into boxes that leave no frame pixel out and take none twice, and each picture pixel is
// the mean of its box: a one-pixel star dims with the scale but never vanishes or flickers, as
// it would where pixels are dropped. A picture of the frame's own size is the frame itself.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "display/picture_size.h"

class PictureScaler {
 public:
  /// Sets up the boxes of a `frame` onto a `picture` (each side at most the frame's).
  void Plan(PixelSize frame, PixelSize picture);
  PixelSize picture() const { return picture_; }
  /// The first frame column and row of picture column `x` and row `y`; x = width gives the end.
  int ColumnStart(int x) const { return column_start_[static_cast<size_t>(x)]; }
  int RowStart(int y) const { return row_start_[static_cast<size_t>(y)]; }

  /// Averages the plane whose row y starts at `pixels + y * stride` into `out`, picture row
  /// after picture row; means rounded to the nearest whole number, halves up.
  void Average(const int32_t* pixels, size_t stride, std::vector<int32_t>& out) const;

 private:
  PixelSize frame_{}, picture_{};
  std::vector<int> column_start_, row_start_;
};

/// Into `sums[x]`, the sum of column x of `rows` rows (at least one) of `width` values, the first
/// row at `first` and each next `stride` values on.
void AddRowsByColumn(const int32_t* first, size_t stride, int rows, int width, int64_t* sums);

/// The mean of `count` values summing to `sum`, rounded to the nearest, halves up.
inline int32_t RoundedMean(int64_t sum, int64_t count) {
  const int64_t twice = 2 * sum + count, divisor = 2 * count;
  return static_cast<int32_t>(twice >= 0 ? twice / divisor : -((-twice + divisor - 1) / divisor));
}
