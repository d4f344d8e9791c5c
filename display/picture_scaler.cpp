// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/picture_scaler.h"

#include <algorithm>

#include "base/second_core.h"
#include "fits/wide_loops.h"

namespace {

// Starts of `parts` boxes along `length` pixels, and the end: box i is [i*L/P, (i+1)*L/P).
std::vector<int> BoxStarts(int length, int parts) {
  std::vector<int> starts(static_cast<size_t>(parts) + 1);
  for (int i = 0; i <= parts; ++i) starts[static_cast<size_t>(i)] = static_cast<int>(int64_t{i} * length / parts);
  return starts;
}

}  // namespace

namespace {

QOR_WITH_AVX2_COPY void AddRowsByColumnLoop(const int32_t* first, size_t stride, int rows, int width, int64_t* sums) {
  for (int x = 0; x < width; ++x) sums[x] = first[x];
  for (int y = 1; y < rows; ++y) {
    const int32_t* row = first + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; ++x) sums[x] += row[x];
  }
}

}  // namespace

void AddRowsByColumn(const int32_t* first, size_t stride, int rows, int width, int64_t* sums) {
  QOR_WIDE_CALL(AddRowsByColumnLoop(first, stride, rows, width, sums));
}

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
  // The rows of the picture in parts that this thread and the helper take in turn: the pass reads
  // the whole frame. Each picture row first adds its box's frame rows column by column (a loop wide
  // instructions take eight values at a time), then adds each box's columns of those sums.
  const auto rows = [&](int first, int end) {
    std::vector<int64_t> columns(static_cast<size_t>(frame_.width));
    for (int py = first; py < end; ++py) {
      const int first_row = row_start_[static_cast<size_t>(py)], end_row = row_start_[static_cast<size_t>(py) + 1];
      AddRowsByColumn(pixels + static_cast<size_t>(first_row) * stride, stride, end_row - first_row, frame_.width,
                      columns.data());
      int32_t* out_row = out.data() + static_cast<size_t>(py) * picture_.width;
      const int box_rows = end_row - first_row;
      for (int px = 0; px < picture_.width; ++px) {
        const int x0 = column_start_[static_cast<size_t>(px)], x1 = column_start_[static_cast<size_t>(px) + 1];
        int64_t sum = 0;
        for (int x = x0; x < x1; ++x) sum += columns[static_cast<size_t>(x)];
        out_row[px] = RoundedMean(sum, int64_t{box_rows} * (x1 - x0));
      }
    }
  };
  ShareRows(picture_.height, [&](int, int first, int end) { rows(first, end); });
}
