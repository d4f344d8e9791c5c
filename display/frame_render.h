#pragma once
// Draws the frame as greys into the picture surface, after applying the user's coefficients.

#include "display/picture_scaler.h"
#include "display/picture_surface.h"
#include "fits/frame_store.h"

/// Rescales DisplaySpan by RangeFactor and DisplayLow by BackgroundFactor (halves to even,
/// saturated; a span of 0 or less becomes 1), clears the surface and sets the grey of every
/// frame pixel that falls inside it.
void RenderFrame(FrameStore& store, PictureSurface& picture);

/// The coefficients' step of RenderFrame alone.
void RescaleDisplayRange(FrameStore& store);

/// The same for the whole frame averaged onto a picture of the scaler's size: the surface takes
/// that size, and each picture pixel the grey of its box's mean.
void RenderScaledFrame(FrameStore& store, PictureSurface& picture, const PictureScaler& scaler);

/// The grey of one pixel: ((value - low) / span x 256 + 0.5) rounded down, clamped to 0..255.
int GreyLevel(int32_t value, int32_t low, int32_t span);
