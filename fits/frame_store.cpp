#include "fits/frame_store.h"

#include <algorithm>
#include <cmath>
#include <new>

bool FrameStore::MakeRoom(int width, int height, bool planes) {
  const int stride = std::max(kSide, width);
  const size_t cells = std::max(FramePixels.size(), static_cast<size_t>(stride) * static_cast<size_t>(height));
  try {
    if (FramePixels.size() < cells) FramePixels.resize(cells);
    if (planes && ColourPlanes.size() != 2 * FramePixels.size()) {
      ColourPlanes.clear();
      ColourPlanes.shrink_to_fit();  // the old planes' cells would be held twice meanwhile
      ColourPlanes.resize(2 * FramePixels.size());
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  Stride = stride;
  return true;
}

std::optional<int> WalkableAxis(double naxis, int limit) {
  if (!(naxis > 0)) return 0;  // 0, negatives and NaN: no pixels
  if (naxis > limit || std::floor(naxis) != naxis) return std::nullopt;
  return static_cast<int>(naxis);
}

FrameExtent WalkableExtent(const FrameStore& store) {
  const auto width = WalkableAxis(store.Naxis1, store.SideLimit());
  const auto height = WalkableAxis(store.Naxis2, store.SideLimit());
  if (!width || !height || !store.Holds(*width, *height)) return {};
  return {*width, *height};
}
