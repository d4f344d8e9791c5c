#include "display/frame_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "fits/text_numbers.h"

int GreyLevel(int32_t value, int32_t low, int32_t span) {
  const double e = static_cast<double>(int64_t{value} - low);
  const double g = std::floor(e / span * 256 + 0.5);
  if (g > 255) return 255;
  if (g < 0) return 0;
  return static_cast<int>(g);
}

namespace {

// The grey grows with the pixel value (each step of its formula is monotonic), so 255 thresholds
// found with the formula itself give every pixel's grey exactly: the first difference from
// DisplayLow at which each grey begins.
class GreyThresholds {
 public:
  GreyThresholds(int32_t low, int32_t span) : low_(low), span_(span), step_(256.0 / span) {
    const int64_t kFar = int64_t{1} << 34;  // beyond any difference of two 32-bit values
    int64_t start = -kFar;
    for (int g = 1; g <= 255; ++g) {
      int64_t first = start, last = kFar;
      while (first < last) {
        const int64_t middle = first + (last - first) / 2;
        if (Formula(middle) >= g) last = middle;
        else first = middle + 1;
      }
      begins_[g] = start = first;
    }
    begins_[0] = std::numeric_limits<int64_t>::min();
  }

  uint32_t Grey(int32_t value) const {
    const int64_t e = int64_t{value} - low_;
    // A guess from one multiplication, put right against the thresholds.
    int g = static_cast<int>(std::clamp(static_cast<double>(e) * step_, 0.0, 255.0));
    while (g < 255 && e >= begins_[g + 1]) ++g;
    while (g > 0 && e < begins_[g]) --g;
    return static_cast<uint32_t>(g);
  }

 private:
  double Formula(int64_t e) const { return std::floor(static_cast<double>(e) / span_ * 256 + 0.5); }

  int32_t low_, span_;
  double step_;
  int64_t begins_[256];
};

}  // namespace

void RenderFrame(FrameStore& store, PictureSurface& picture) {
  store.DisplaySpan = RoundToInt32(static_cast<double>(store.DisplaySpan) * store.RangeFactor);
  store.DisplayLow = RoundToInt32(static_cast<double>(store.DisplayLow) * store.BackgroundFactor);
  if (store.DisplaySpan <= 0) store.DisplaySpan = 1;

  picture.Cls();
  // Pixels beyond the surface would be ignored by it: only the visible corner is computed.
  const FrameExtent extent = WalkableExtent(store);
  const int width = std::min(extent.width, PictureSurface::kWidth);
  const int height = std::min(extent.height, PictureSurface::kHeight);
  if (width > 0 && height > 0) {
    const GreyThresholds greys(store.DisplayLow, store.DisplaySpan);
    for (int y = 0; y < height; ++y) {
      const int32_t* source = &store.Pixel(0, y);
      uint32_t* row = picture.Row(y);
      for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | (greys.Grey(source[x]) * 0x010101u);
    }
  }
  picture.Changed();
}
