// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hot pixels, learned from the frames themselves: a pixel that stands alone, far above all eight
// neighbours while they lie near the sky, in most of the last 16 frames. Stars move between
// frames and spread over several pixels; a cosmic ray strikes once. Only a sensor's defect stays.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "fits/frame_store.h"

class HotPixelMap {
 public:
  static constexpr int kFrames = 16;    // the frames remembered
  static constexpr int kMostOf = 9;     // a pixel alone in this many of them is hot
  static constexpr double kSigma = 8;   // "far above": this many times the frame's noise
  static constexpr size_t kMostCandidates = 200'000;  // beyond: a frame of noise, not learned from

  /// Looks at the frame in `store` (its first plane, inside `width` x `height`); `step` is 2 for a
  /// colour mosaic, whose neighbours of the same colour lie two pixels away. A frame of another
  /// size than the last starts the learning afresh.
  void Learn(const FrameStore& store, int width, int height, int step);
  /// The hot pixels' cell indices (x + Stride * y) in the store as laid out when learned, sorted.
  const std::vector<uint32_t>& hot() const { return hot_; }
  bool IsHot(uint32_t cell) const;
  /// True when the map was learned on frames laid out as `store`'s is now for a `width` x
  /// `height` frame: a map of another size names other pixels.
  bool Fits(const FrameStore& store, int width, int height) const {
    return width == width_ && height == height_ && store.Stride == stride_;
  }

 private:
  std::unordered_map<uint32_t, uint16_t> history_;  // cell -> one bit per remembered frame, newest lowest
  std::vector<uint32_t> hot_;
  int width_ = 0, height_ = 0, stride_ = 0;
};

/// The frame's noise in its sample units, from the differences between pixels `step` apart on a
/// sparse grid (the median absolute difference, which stars and hot pixels do not move).
double SampleNoise(const FrameStore& store, int width, int height, int step);

/// The median of the eight neighbours `step` apart of cell (x, y) in `plane`, within the frame.
int32_t NeighbourMedian(const int32_t* plane, int stride, int width, int height, int x, int y, int step);
