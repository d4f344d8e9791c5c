// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture of a frame as the observer chose it: the design's grey window, the whole frame
// scaled, or in colour. Two steps, so that the window can take its events between them.

#include <array>
#include <optional>

#include "display/colour_path.h"
#include "display/picture_scaler.h"
#include "display/picture_size.h"
#include "display/picture_surface.h"
#include "fits/frame_store.h"

struct PictureChoices {
  PictureSize size{};                                    // --picture
  bool colour = false;                                   // --colour
  std::optional<std::array<double, 3>> white_balance{};  // --white-balance R,G,B; nothing: automatic
};

class PicturePainter {
 public:
  void SetChoices(const PictureChoices& choices);
  /// The display range (ComputeDisplayRange, or the colour path's from the luminance).
  void ComputeRange(FrameStore& store);
  /// The picture (RenderFrame, the scaled frame, or the colour picture): Draw, then Show.
  void Render(FrameStore& store, PictureSurface& picture);
  /// Draws the picture on the painter's own surface. A window's picture is left as it is, so that
  /// a large frame can be drawn beside the window while the window still shows the last picture.
  void Draw(FrameStore& store);
  /// Puts the drawn picture into `picture`.
  void Show(PictureSurface& picture) { picture.TakeRaster(drawn_); }
  /// The size the picture is drawn at: a frame beyond the design's 1537 x 1537 is drawn whole
  /// ("fit") unless a size was chosen, as its top-left corner would show a sliver of the sky.
  PictureSize SizeFor(const FrameStore& store) const;

 private:
  PictureSurface drawn_;
  PictureChoices choices_;
  bool colour_frame_ = false;  // the frame being drawn goes the colour path
  ColourPath colour_;
  PictureScaler scaler_;
};
