// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame as the analysis sees it: its physical values (the reader has applied BZERO and BSCALE)
// as floats. A colour
// mosaic is taken as its luminance at half size (the mean of each 2 x 2 cell), a frame of three
// colour planes as their mean. A frame beyond about four million pixels is binned (the mean of
// each block) so that the analysis takes a bounded time and at most a frame's worth of memory.

#include <vector>

#include "base/outcome.h"
#include "fits/frame_store.h"

struct SkyImage {
  std::vector<float> pixels;  // row by row, width x height; kept from frame to frame
  int width = 0;
  int height = 0;
  int bin = 1;  // frame pixels per image pixel along each side
};

inline constexpr long long kMostSkyPixels = 2048LL * 2048;

/// The bin that brings a `width` x `height` frame within kMostSkyPixels; even for a mosaic.
int SkyBinFor(int width, int height, bool mosaic);

/// Fills `image` from the frame in `store`. Refused, with the reason, where the frame is smaller
/// than the background's mesh.
Outcome MakeSkyImage(const FrameStore& store, bool mosaic, SkyImage& image);
