#include "fits/frame_store.h"

#include <algorithm>
#include <cmath>
#include <new>

bool FrameStore::MakeRoom(int width, int height, bool planes) {
  // The design's frames keep its rows of 1537 cells; a frame beyond its sides (a narrow one too)
  // has rows of its own width, so that no cell is held that the frame does not need.
  const int stride = width > kSide || height > kSide ? std::max(width, 1) : kSide;
  const size_t needed = static_cast<size_t>(stride) * static_cast<size_t>(std::max(height, 0));
  try {
    if (FramePixels.size() < needed) {
      // The old block goes first: held beside the new one, it would double the peak.
      FramePixels.clear();
      FramePixels.shrink_to_fit();
      FramePixels.resize(needed);
    }
    if (planes && ColourPlanes.size() != 2 * needed) {
      ColourPlanes.clear();
      ColourPlanes.shrink_to_fit();  // the old planes' cells would be held twice meanwhile
      ColourPlanes.resize(2 * needed);
    }
  } catch (const std::bad_alloc&) {
    // The design's block is there again, so that the store is usable as designed.
    if (FramePixels.size() < static_cast<size_t>(kSide) * kSide) FramePixels.assign(static_cast<size_t>(kSide) * kSide, 0);
    Stride = kSide;
    PlaneCells = 0;
    return false;
  }
  Stride = stride;
  PlaneCells = planes ? needed : 0;
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
