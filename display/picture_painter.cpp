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

PictureSize PicturePainter::SizeFor(const FrameStore& store) const {
  if (!choices_.size.design()) return choices_.size;
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width > FrameStore::kSide || extent.height > FrameStore::kSide) return {PictureSize::Kind::kFit};
  return choices_.size;
}

void PicturePainter::Render(FrameStore& store, PictureSurface& picture) {
  Draw(store);
  Show(picture);
}

void PicturePainter::Draw(FrameStore& store) {
  const PictureSize size = SizeFor(store);
  if (colour_frame_) return colour_.Render(store, drawn_, size);
  if (size.design()) return RenderFrame(store, drawn_);
  const FrameExtent extent = WalkableExtent(store);
  const PixelSize frame{extent.width, extent.height};
  if (frame.width < 1 || frame.height < 1) {
    RescaleDisplayRange(store);
    drawn_.Cls();  // nothing to draw, as the design's picture of such a frame
    return;
  }
  scaler_.Plan(frame, PicturePixels(size, frame));
  RenderScaledFrame(store, drawn_, scaler_);
}
