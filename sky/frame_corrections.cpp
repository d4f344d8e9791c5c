// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/frame_corrections.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

int64_t FrameCorrections::DarkSample(size_t index) const {
  return std::llround(static_cast<double>(dark_->values[index]) * dark_factor_);
}

void FrameCorrections::Extremes(FrameStore& store) {
  const FrameExtent extent = WalkableExtent(store);
  int32_t low = std::numeric_limits<int32_t>::max(), high = std::numeric_limits<int32_t>::min();
  for (int y = 0; y < extent.height; ++y) {
    const int32_t* row = &store.Pixel(0, y);
    for (int x = 0; x < extent.width; ++x) {
      low = std::min(low, row[x]);
      high = std::max(high, row[x]);
    }
  }
  if (extent.width > 0 && extent.height > 0) store.PixelMin = low, store.PixelMax = high;
}

Outcome FrameCorrections::SubtractDark(FrameStore& store, const DarkFrame& dark) {
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width != dark.width || extent.height != dark.height)
    return Outcome::Failure("the dark is " + std::to_string(dark.width) + " x " + std::to_string(dark.height) +
                            ", the frame " + std::to_string(extent.width) + " x " + std::to_string(extent.height));
  // The dark goes first, on the frame as read: a second subtraction would be undone only once.
  if (changed()) return Outcome::Failure("the frame was corrected already");
  pixel_min_ = store.PixelMin, pixel_max_ = store.PixelMax;
  dark_ = &dark;
  dark_factor_ = DarkScale(dark, store);
  planes_ = 1 + store.ColourPlaneCount;
  for (int plane = 0; plane < planes_; ++plane) {
    int32_t* cells = store.Plane(plane);
    for (int y = 0; y < extent.height; ++y)
      for (int x = 0; x < extent.width; ++x) {
        const size_t cell = static_cast<size_t>(x) + static_cast<size_t>(store.Stride) * y;
        const int64_t value = int64_t{cells[cell]} - DarkSample(static_cast<size_t>(x) + static_cast<size_t>(dark.width) * y);
        const int64_t kept = std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
        if (kept != value) saved_.push_back({cell, plane, cells[cell]});  // rare: 32-bit data at its ends
        cells[cell] = static_cast<int32_t>(kept);
      }
  }
  dark_saved_end_ = saved_.size();
  Extremes(store);
  return Outcome::Success();
}

int FrameCorrections::ReplaceHotPixels(FrameStore& store, const HotPixelMap& map, int step) {
  const FrameExtent extent = WalkableExtent(store);
  if (map.hot().empty() || extent.width <= 0 || !map.Fits(store, extent.width, extent.height)) return 0;
  if (!changed()) pixel_min_ = store.PixelMin, pixel_max_ = store.PixelMax;
  const int planes = 1 + store.ColourPlaneCount;
  // The medians come from the frame as it was: a hot pixel beside another is not judged by a
  // value just put in.
  std::vector<int32_t> medians;
  int replaced = 0;
  for (int plane = 0; plane < planes; ++plane) {
    int32_t* cells = store.Plane(plane);
    medians.clear();
    for (const uint32_t cell : map.hot()) {
      const int x = static_cast<int>(cell % static_cast<uint32_t>(store.Stride));
      const int y = static_cast<int>(cell / static_cast<uint32_t>(store.Stride));
      medians.push_back(x < extent.width && y < extent.height
                            ? NeighbourMedian(cells, store.Stride, extent.width, extent.height, x, y, step)
                            : cells[cell]);
    }
    for (size_t i = 0; i < map.hot().size(); ++i) {
      const size_t cell = map.hot()[i];
      if (cells[cell] == medians[i]) continue;
      saved_.push_back({cell, plane, cells[cell]});
      cells[cell] = medians[i];
      if (plane == 0) ++replaced;
    }
  }
  Extremes(store);
  return replaced;
}

void FrameCorrections::RestoreHotPixels(FrameStore& store) {
  for (size_t i = saved_.size(); i > dark_saved_end_; --i)
    store.Plane(saved_[i - 1].plane)[saved_[i - 1].cell] = saved_[i - 1].value;
  saved_.resize(dark_saved_end_);
  if (!changed()) store.PixelMin = pixel_min_, store.PixelMax = pixel_max_;
  else Extremes(store);
}

void FrameCorrections::Restore(FrameStore& store) {
  if (!changed()) return;
  // Undone in the reverse order of change: the hot pixels' values first (as the dark left them),
  // then the dark added back, then the pixels the dark had to clamp get their own values.
  for (size_t i = saved_.size(); i > dark_saved_end_; --i)
    store.Plane(saved_[i - 1].plane)[saved_[i - 1].cell] = saved_[i - 1].value;
  if (dark_ != nullptr) {
    for (int plane = 0; plane < planes_; ++plane) {
      int32_t* cells = store.Plane(plane);
      for (int y = 0; y < dark_->height; ++y)
        for (int x = 0; x < dark_->width; ++x) {
          const size_t cell = static_cast<size_t>(x) + static_cast<size_t>(store.Stride) * y;
          const int64_t value = int64_t{cells[cell]} + DarkSample(static_cast<size_t>(x) + static_cast<size_t>(dark_->width) * y);
          cells[cell] = static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                                  std::numeric_limits<int32_t>::max()));
        }
    }
    for (size_t i = 0; i < dark_saved_end_; ++i) store.Plane(saved_[i].plane)[saved_[i].cell] = saved_[i].value;
  }
  store.PixelMin = pixel_min_;
  store.PixelMax = pixel_max_;
  saved_.clear();
  dark_saved_end_ = 0;
  dark_ = nullptr;
}
