// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/hot_pixel_map.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

// An insertion sort: eight values, and GCC's std::sort at -O3 warns of bounds it never reaches.
void SortEight(std::array<int32_t, 8>& values) {
  for (size_t i = 1; i < values.size(); ++i)
    for (size_t j = i; j > 0 && values[j - 1] > values[j]; --j) std::swap(values[j - 1], values[j]);
}

}  // namespace

double SampleNoise(const FrameStore& store, int width, int height, int step) {
  std::vector<int64_t> differences;
  const int spacing = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(width) * height / 20000.0)));
  for (int y = 0; y < height; y += spacing)
    for (int x = 0; x + step < width; x += spacing)
      differences.push_back(std::llabs(int64_t{store.Pixel(x + step, y)} - store.Pixel(x, y)));
  if (differences.empty()) return 0;
  const auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
  std::nth_element(differences.begin(), middle, differences.end());
  // For Gaussian noise the median absolute difference of two pixels is 0.954 sigma.
  return static_cast<double>(*middle) / 0.954;
}

int32_t NeighbourMedian(const int32_t* plane, int stride, int width, int height, int x, int y, int step) {
  std::array<int32_t, 8> values{};
  int count = 0;
  for (int dy = -step; dy <= step; dy += step)
    for (int dx = -step; dx <= step; dx += step) {
      const int nx = x + dx, ny = y + dy;
      if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
      values[static_cast<size_t>(count++)] = plane[static_cast<size_t>(nx) + static_cast<size_t>(stride) * ny];
    }
  if (count == 0) return plane[static_cast<size_t>(x) + static_cast<size_t>(stride) * y];
  for (int i = count; i < 8; ++i) values[static_cast<size_t>(i)] = INT32_MAX;  // beyond the frame: sorted last
  SortEight(values);
  return values[static_cast<size_t>(count / 2)];
}

void HotPixelMap::Learn(const FrameStore& store, int width, int height, int step) {
  if (width != width_ || height != height_ || store.Stride != stride_) {
    history_.clear();
    hot_.clear();
    width_ = width, height_ = height, stride_ = store.Stride;
  }
  const double noise = SampleNoise(store, width, height, step);
  const double far = std::max(kSigma * noise, 1.0);
  std::vector<uint32_t> alone;
  for (int y = step; y + step < height && alone.size() <= kMostCandidates; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    const int32_t* above = row - static_cast<ptrdiff_t>(step) * store.Stride;
    const int32_t* below = row + static_cast<ptrdiff_t>(step) * store.Stride;
    for (int x = step; x + step < width; ++x) {
      const int32_t value = row[x];
      // A quick test first: most pixels are not above their left and right neighbours by much.
      if (value - static_cast<double>(std::max(row[x - step], row[x + step])) <= far) continue;
      const std::array<int32_t, 8> around{above[x - step], above[x], above[x + step], row[x - step],
                                          row[x + step],   below[x - step], below[x], below[x + step]};
      std::array<int32_t, 8> sorted = around;
      SortEight(sorted);
      const double level = (static_cast<double>(sorted[3]) + sorted[4]) / 2;
      const double highest = sorted[7];
      // Far above the highest neighbour, and the neighbours near the sky: a star's peak has
      // shoulders of a third of its height or more.
      if (value - highest > far && highest - level < 0.2 * (value - level))
        alone.push_back(static_cast<uint32_t>(x + static_cast<size_t>(store.Stride) * y));
    }
  }
  if (alone.size() > kMostCandidates) return;  // noise or garbage: nothing to learn from
  for (auto it = history_.begin(); it != history_.end();) {
    it->second = static_cast<uint16_t>(it->second << 1);
    it = it->second == 0 ? history_.erase(it) : std::next(it);
  }
  for (const uint32_t cell : alone) history_[cell] |= 1;
  hot_.clear();
  for (const auto& [cell, bits] : history_)
    if (std::popcount(bits) >= kMostOf) hot_.push_back(cell);
  std::sort(hot_.begin(), hot_.end());
}

bool HotPixelMap::IsHot(uint32_t cell) const { return std::binary_search(hot_.begin(), hot_.end(), cell); }
