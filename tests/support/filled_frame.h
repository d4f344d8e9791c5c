#pragma once
// Puts a frame of one value straight into a store, for tests of the stages after the reader.

#include "fits/frame_store.h"

inline void FillFrame(FrameStore& store, int width, int height, int32_t value) {
  store.Naxis1 = width;
  store.Naxis2 = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) store.Pixel(x, y) = value;
}
