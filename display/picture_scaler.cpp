// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/picture_scaler.h"

#include <algorithm>

#include "fits/second_core.h"

namespace {

// Starts of `parts` boxes along `length` pixels, and the end: box i is [i*L/P, (i+1)*L/P).
std::vector<int> BoxStarts(int length, int parts) {
  std::vector<int> starts(static_cast<size_t>(parts) + 1);
  for (int i = 0; i <= parts; ++i) starts[static_cast<size_t>(i)] = static_cast<int>(int64_t{i} * length / parts);
  return starts;
}

}  // namespace

void PictureScaler::Plan(PixelSize frame, PixelSize picture) {
  if (frame.width == frame_.width && frame.height == frame_.height && picture.width == picture_.width &&
      picture.height == picture_.height)
    return;
  frame_ = frame;
  picture_ = picture;
  column_start_ = BoxStarts(frame.width, picture.width);
  row_start_ = BoxStarts(frame.height, picture.height);
}

void PictureScaler::Average(const int32_t* pixels, size_t stride, std::vector<int32_t>& out) const {
  out.resize(static_cast<size_t>(picture_.width) * picture_.height);
  // The rows of the picture in two halves, the second on the helper thread: the pass reads the
  // whole frame.
  const auto rows = [&](int first, int end) {
    std::vector<int64_t> sums(static_cast<size_t>(picture_.width));
    for (int py = first; py < end; ++py) {
      std::fill(sums.begin(), sums.end(), 0);
      const int first_row = row_start_[static_cast<size_t>(py)], end_row = row_start_[static_cast<size_t>(py) + 1];
      for (int y = first_row; y < end_row; ++y) {
        const int32_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int px = 0; px < picture_.width; ++px) {
          int64_t sum = 0;
          for (int x = column_start_[static_cast<size_t>(px)]; x < column_start_[static_cast<size_t>(px) + 1]; ++x)
            sum += row[x];
          sums[static_cast<size_t>(px)] += sum;
        }
      }
      int32_t* out_row = out.data() + static_cast<size_t>(py) * picture_.width;
      const int box_rows = end_row - first_row;
      for (int px = 0; px < picture_.width; ++px) {
        const int columns = column_start_[static_cast<size_t>(px) + 1] - column_start_[static_cast<size_t>(px)];
        out_row[px] = RoundedMean(sums[static_cast<size_t>(px)], int64_t{box_rows} * columns);
      }
    }
  };
  const int split = picture_.height / 2;
  SecondCoreTask lower([&] { rows(split, picture_.height); });
  rows(0, split);
  lower.Join();
}
