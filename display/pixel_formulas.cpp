#include "display/pixel_formulas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

namespace {

QOR_WITH_AVX2_COPY void GreyPixelsInDoubles(const int32_t* values, int count, int32_t low, int32_t span,
                                            uint32_t* pixels) {
  const double from = low, width = span;
  for (int i = 0; i < count; ++i) {
    double grey = std::floor((static_cast<double>(values[i]) - from) / width * 256 + 0.5);
    grey = grey < 0 ? 0.0 : grey;
    grey = grey > 255 ? 255.0 : grey;
    pixels[i] = 0xFF000000u | static_cast<uint32_t>(static_cast<int32_t>(grey)) * 0x010101u;
  }
}

#if defined(__x86_64__)
// The grey in single precision, eight pixels at a time, without the division. Values are first
// clamped to low .. low + span (below low the grey is low's 0, beyond low + span the 255 of low +
// span). For e = value - low in that band, the formula in double precision rounds down to the same
// whole number as the exact e / span x 256 + 0.5: it is exact at the halves and errs by less than
// 2^-43, while the exact value is either whole or at least 2^-40 from a whole number. Here t =
// e x (256 / span) + 0.5 errs by less than 2^-13, so its floor is the formula's grey unless t is
// within 2^-12 of a whole number; a group of eight with any pixel that close (rare, but every tie
// of a span that is a multiple of 512) takes the formula itself. Returns how many pixels it took:
// whole groups of eight.
[[gnu::target("avx2,fma")]] int GreyPixelsInSingles(const int32_t* values, int count, int32_t low, int32_t span,
                                                    uint32_t* pixels) {
  const __m256i bottom = _mm256_set1_epi32(low);
  const __m256i top = _mm256_set1_epi32(static_cast<int32_t>(std::min<int64_t>(int64_t{low} + span, INT32_MAX)));
  const __m256 scale = _mm256_set1_ps(static_cast<float>(256.0 / span)), half = _mm256_set1_ps(0.5f);
  const __m256 near_below = _mm256_set1_ps(1.0f / 4096), near_above = _mm256_set1_ps(1.0f - 1.0f / 4096);
  const __m256i white = _mm256_set1_epi32(255), opaque = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const int whole = count / 8 * 8;
  for (int i = 0; i < whole; i += 8) {
    const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
    const __m256i e = _mm256_sub_epi32(_mm256_max_epi32(_mm256_min_epi32(value, top), bottom), bottom);
    const __m256 t = _mm256_fmadd_ps(_mm256_cvtepi32_ps(e), scale, half);
    const __m256 down = _mm256_floor_ps(t);
    const __m256 part = _mm256_sub_ps(t, down);
    const __m256 unsure =
        _mm256_or_ps(_mm256_cmp_ps(part, near_below, _CMP_LT_OQ), _mm256_cmp_ps(part, near_above, _CMP_GT_OQ));
    if (_mm256_movemask_ps(unsure) != 0) [[unlikely]] {
      GreyPixelsInDoubles(values + i, 8, low, span, pixels + i);
      continue;
    }
    const __m256i grey = _mm256_min_epi32(_mm256_cvttps_epi32(down), white);
    const __m256i rgb = _mm256_or_si256(grey, _mm256_or_si256(_mm256_slli_epi32(grey, 8), _mm256_slli_epi32(grey, 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + i), _mm256_or_si256(rgb, opaque));
  }
  return whole;
}
#endif

}  // namespace

void GreyPixels(const int32_t* values, int count, int32_t low, int32_t span, uint32_t* pixels) {
  int done = 0;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2 && span > 0) done = GreyPixelsInSingles(values, count, low, span, pixels);
#endif
  GreyPixelsInDoubles(values + done, count - done, low, span, pixels + done);
}
