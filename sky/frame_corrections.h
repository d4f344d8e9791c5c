// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The corrections made to the frame in the store for the picture and the analysis: the master
// dark subtracted, hot pixels replaced by their neighbours' median. The archive must stay the
// camera's raw frame, so every change is undone, exactly, before the frame is archived: the dark's
// samples are added back and each replaced or clamped pixel gets its own value again.

#include <cstdint>
#include <vector>

#include "base/outcome.h"
#include "fits/frame_store.h"
#include "sky/dark_frame.h"
#include "sky/hot_pixel_map.h"

class FrameCorrections {
 public:
  /// Subtracts `dark`, scaled by the ratio of the exposures, from every plane of the frame.
  /// Refused, changing nothing, where the dark has another size than the frame.
  Outcome SubtractDark(FrameStore& store, const DarkFrame& dark);
  /// Replaces each hot pixel of `map` in every plane by the median of its eight neighbours `step`
  /// apart; returns how many were replaced.
  int ReplaceHotPixels(FrameStore& store, const HotPixelMap& map, int step);
  /// Gives the hot pixels their values again (the dark stays subtracted).
  void RestoreHotPixels(FrameStore& store);
  /// Puts the frame back as it was read. Nothing to do when nothing was changed.
  void Restore(FrameStore& store);
  bool changed() const { return dark_ != nullptr || !saved_.empty(); }

 private:
  struct Saved {
    size_t cell;
    int plane;
    int32_t value;
  };
  /// The dark's value at a pixel, scaled and whole; the same on the way back.
  int64_t DarkSample(size_t index) const;
  void Extremes(FrameStore& store);

  const DarkFrame* dark_ = nullptr;
  double dark_factor_ = 0;      // the ratio of the exposures
  int planes_ = 1;
  std::vector<Saved> saved_;    // the dark's clamped pixels, then the replaced hot pixels
  size_t dark_saved_end_ = 0;   // saved_[0, dark_saved_end_) are the dark's
  int32_t pixel_min_ = 0, pixel_max_ = 0;
};
