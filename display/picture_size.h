// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture's size: the design's 423 x 316 window onto the frame's top-left corner, or the whole
// frame scaled to fit a box (never enlarged), or the whole frame at one picture pixel per pixel.

#include <optional>
#include <string>

struct PictureSize {
  enum class Kind {
    kDesign,  // 423 x 316, one picture pixel per frame pixel from the top-left corner
    kFit,     // the whole frame within 423 x 316
    kFrame,   // the whole frame, one picture pixel per frame pixel
    kBox,     // the whole frame within width x height
  };
  Kind kind = Kind::kDesign;
  int width = 0, height = 0;  // kBox only

  /// "fit", "frame" or "WxH" (each 1 to 16384); nothing for any other text.
  static std::optional<PictureSize> Parse(const std::string& text);
  bool design() const { return kind == Kind::kDesign; }
};

struct PixelSize {
  int width = 0;
  int height = 0;
};

/// The picture's pixels for a frame of `frame` pixels (the design's 423 x 316 for kDesign): the
/// whole frame scaled by one factor (aspect kept, never above 1) to fit the box, at least 1 x 1.
PixelSize PicturePixels(const PictureSize& size, PixelSize frame);
