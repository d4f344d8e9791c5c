#include "display/frame_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "display/pixel_formulas.h"
#include "base/second_core.h"
#include "fits/text_numbers.h"

int GreyLevel(int32_t value, int32_t low, int32_t span) {
  const double e = static_cast<double>(int64_t{value} - low);
  const double g = std::floor(e / span * 256 + 0.5);
  if (g > 255) return 255;
  if (g < 0) return 0;
  return static_cast<int>(g);
}

void RescaleDisplayRange(FrameStore& store) {
  store.DisplaySpan = RoundToInt32(static_cast<double>(store.DisplaySpan) * store.RangeFactor);
  store.DisplayLow = RoundToInt32(static_cast<double>(store.DisplayLow) * store.BackgroundFactor);
  if (store.DisplaySpan <= 0) store.DisplaySpan = 1;
}

void RenderScaledFrame(FrameStore& store, PictureSurface& picture, const PictureScaler& scaler) {
  RescaleDisplayRange(store);
  const PixelSize size = scaler.picture();
  picture.Resize(size.width, size.height);  // every pixel is drawn below: no Cls first
  // The drawing runs on a fresh thread each cycle: this buffer serves the rows of one picture.
  static thread_local std::vector<int32_t> means;
  scaler.Average(store.FramePixels.data(), static_cast<size_t>(store.Stride), means);
  for (int y = 0; y < size.height; ++y)
    GreyPixels(means.data() + static_cast<size_t>(y) * size.width, size.width, store.DisplayLow, store.DisplaySpan,
               picture.Row(y));
  picture.Changed();
}

void RenderFrame(FrameStore& store, PictureSurface& picture) {
  RescaleDisplayRange(store);
  picture.Resize(PictureSurface::kWidth, PictureSurface::kHeight);
  picture.Cls();
  // Pixels beyond the surface would be ignored by it: only the visible corner is computed.
  const FrameExtent extent = WalkableExtent(store);
  const int width = std::min(extent.width, PictureSurface::kWidth);
  const int height = std::min(extent.height, PictureSurface::kHeight);
  if (width > 0 && height > 0) {
    // The raster's rows, taken on this thread: the first write to a shared raster copies it.
    std::vector<uint32_t*> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = picture.Row(y);
    ShareRows(height, [&](int, int first, int end) {
      for (int y = first; y < end; ++y)
        GreyPixels(&store.Pixel(0, y), width, store.DisplayLow, store.DisplaySpan, rows[static_cast<size_t>(y)]);
    });
  }
  picture.Changed();
}
