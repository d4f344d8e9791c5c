#include "display/pixel_formulas.h"

#include <cmath>

#include "fits/wide_loops.h"

// Built with -fno-trapping-math, which lets the compiler turn the conversions to integers into
// wide instructions; it changes no result. Both differences are exact in double precision, as the
// int64 difference of the scalar formula is.

QOR_WITH_AVX2_COPY void HistogramBins(const int32_t* values, int count, int32_t low, double bin_width,
                                      uint16_t* bins) {
  const double from = low;
  for (int i = 0; i < count; ++i) {
    double bin = std::floor((static_cast<double>(values[i]) - from) / bin_width + 0.5);
    bin = bin < 0 ? double{kNoBin} : bin;
    bin = bin > kNoBin ? double{kNoBin} : bin;
    bins[i] = static_cast<uint16_t>(static_cast<int32_t>(bin));
  }
}

QOR_WITH_AVX2_COPY void GreyPixels(const int32_t* values, int count, int32_t low, int32_t span,
                                   uint32_t* pixels) {
  const double from = low, width = span;
  for (int i = 0; i < count; ++i) {
    double grey = std::floor((static_cast<double>(values[i]) - from) / width * 256 + 0.5);
    grey = grey < 0 ? 0.0 : grey;
    grey = grey > 255 ? 255.0 : grey;
    pixels[i] = 0xFF000000u | static_cast<uint32_t>(static_cast<int32_t>(grey)) * 0x010101u;
  }
}
