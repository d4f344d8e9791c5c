// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/picture_painter.h"

#include "display/display_range.h"
#include "display/frame_render.h"

void PicturePainter::SetChoices(const PictureChoices& choices) {
  choices_ = choices;
  colour_.SetWhiteBalance(choices.white_balance);
}

void PicturePainter::ComputeRange(FrameStore& store) {
  colour_frame_ = choices_.colour && colour_.Applies(store);
  if (colour_frame_) colour_.ComputeRange(store);
  else ComputeDisplayRange(store);
}

void PicturePainter::Render(FrameStore& store, PictureSurface& picture) {
  if (colour_frame_) return colour_.Render(store, picture, choices_.size);
  if (choices_.size.design()) return RenderFrame(store, picture);
  const FrameExtent extent = WalkableExtent(store);
  const PixelSize frame{extent.width, extent.height};
  if (frame.width < 1 || frame.height < 1) {
    RescaleDisplayRange(store);
    picture.Cls();  // nothing to draw, as the design's picture of such a frame
    return;
  }
  scaler_.Plan(frame, PicturePixels(choices_.size, frame));
  RenderScaledFrame(store, picture, scaler_);
}
