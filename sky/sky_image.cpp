// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sky_image.h"

#include <string>

#include "sky/star_extraction.h"

int SkyBinFor(int width, int height, bool mosaic) {
  int bin = mosaic ? 2 : 1;
  while (static_cast<long long>(width / bin) * (height / bin) > kMostSkyPixels) bin += mosaic ? 2 : 1;
  return bin;
}

Outcome MakeSkyImage(const FrameStore& store, bool mosaic, SkyImage& image) {
  const FrameExtent extent = WalkableExtent(store);
  const int bin = SkyBinFor(extent.width, extent.height, mosaic && store.ColourPlaneCount == 0);
  const int width = extent.width / bin, height = extent.height / bin;
  if (width < kMeshSide || height < kMeshSide)
    return Outcome::Failure("the frame (" + std::to_string(extent.width) + " x " + std::to_string(extent.height) +
                            ") is smaller than the background's mesh");
  image.width = width;
  image.height = height;
  image.bin = bin;
  image.pixels.resize(static_cast<size_t>(width) * height);
  const int planes = 1 + store.ColourPlaneCount;
  // The store holds physical values already: the reader applied BZERO and BSCALE.
  const double scale = 1.0 / (static_cast<double>(bin) * bin * planes);
  std::vector<double> sums(static_cast<size_t>(width));
  for (int y = 0; y < height; ++y) {
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int plane = 0; plane < planes; ++plane)
      for (int row = y * bin; row < (y + 1) * bin; ++row) {
        const int32_t* cells = store.Plane(plane) + static_cast<size_t>(store.Stride) * row;
        if (bin == 1) {
          for (int x = 0; x < width; ++x) sums[static_cast<size_t>(x)] += cells[x];
        } else {
          for (int x = 0; x < width; ++x)
            for (int column = x * bin; column < (x + 1) * bin; ++column) sums[static_cast<size_t>(x)] += cells[column];
        }
      }
    float* out = image.pixels.data() + static_cast<size_t>(width) * y;
    for (int x = 0; x < width; ++x) out[x] = static_cast<float>(scale * sums[static_cast<size_t>(x)]);
  }
  return Outcome::Success();
}
