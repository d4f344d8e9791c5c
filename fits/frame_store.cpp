#include "fits/frame_store.h"

#include <cmath>

std::optional<int> WalkableAxis(double naxis) {
  if (!(naxis > 0)) return 0;  // 0, negatives and NaN: no pixels
  if (naxis > FrameStore::kSide || std::floor(naxis) != naxis) return std::nullopt;
  return static_cast<int>(naxis);
}

FrameExtent WalkableExtent(const FrameStore& store) {
  const auto width = WalkableAxis(store.Naxis1);
  const auto height = WalkableAxis(store.Naxis2);
  if (!width || !height) return {};
  return {*width, *height};
}
