// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Synthetic star fields put straight into a frame store, with the header cards the analysis reads.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fits/frame_store.h"
#include "tests/support/star_field.h"

/// The frame's cells row by row, to compare a frame before and after.
inline std::vector<int32_t> Cells(const FrameStore& store, int width, int height) {
  std::vector<int32_t> cells;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) cells.push_back(store.Pixel(x, y));
  return cells;
}

/// Every pixel of the store's frame set to `value`.
inline void FillAll(FrameStore& store, int32_t value) {
  for (int y = 0; y < static_cast<int>(store.Naxis2); ++y)
    for (int x = 0; x < static_cast<int>(store.Naxis1); ++x) store.Pixel(x, y) = value;
  store.PixelMin = store.PixelMax = value;
}

inline void PutFrame(FrameStore& store, const std::vector<uint16_t>& frame, int width, int height,
                     std::optional<std::string> exptime = "30.0") {
  store.MakeRoom(width, height, false);
  store.Naxis1 = width;
  store.Naxis2 = height;
  store.BitPix = 16;
  store.BZero = 0;
  store.BScale = 1;
  int32_t low = INT32_MAX, high = INT32_MIN;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int32_t value = frame[static_cast<size_t>(x) + static_cast<size_t>(width) * y];
      store.Pixel(x, y) = value;
      low = std::min(low, value), high = std::max(high, value);
    }
  store.PixelMin = low, store.PixelMax = high;
  int card = 0;
  const auto add = [&](std::string text) {
    text.resize(80, ' ');
    store.HeaderCards[static_cast<size_t>(++card)] = text;
  };
  add("SIMPLE  =                    T");
  add("BITPIX  =                   16");
  if (exptime) add("EXPTIME = " + *exptime);
  add("END");
  store.HeaderCardCount = card;
}
