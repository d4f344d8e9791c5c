#include "display/pixel_formulas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__) && !defined(QOR_PORTABLE_LOOPS)
#define QOR_NEON_GREYS 1
#include <arm_neon.h>
#endif

#include "fits/wide_loops.h"

// Built with -fno-trapping-math, which lets the compiler turn the conversions to integers into
// wide instructions; it changes no result. Both differences are exact in double precision, as the
// int64 difference of the scalar formula is.

namespace {

QOR_WITH_AVX2_COPY void HistogramBinsLoop(const int32_t* values, int count, int32_t low, double bin_width,
                                          uint16_t* bins) {
  const double from = low;
  for (int i = 0; i < count; ++i) {
    double bin = std::floor((static_cast<double>(values[i]) - from) / bin_width + 0.5);
    bin = bin < 0 ? double{kNoBin} : bin;
    bin = bin > kNoBin ? double{kNoBin} : bin;
    bins[i] = static_cast<uint16_t>(static_cast<int32_t>(bin));
  }
}

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

void ColourPixelsInDoubles(const std::array<const int32_t*, 3>& values, int first, int end, int32_t low, int32_t span,
                           uint32_t* pixels) {
  std::array<uint32_t, 3> grey{};
  for (int i = first; i < end; ++i) {
    for (size_t c = 0; c < 3; ++c) QOR_WIDE_CALL(GreyPixelsInDoubles(values[c] + i, 1, low, span, &grey[c]));
    pixels[i] = 0xFF000000u | (grey[0] & 0xFF0000u) | (grey[1] & 0xFF00u) | (grey[2] & 0xFFu);
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
// The constants of the single-precision grey for one band.
struct SingleGrey {
  __m256i bottom, top;
  __m256 scale, half, near_below, near_above;
  __m256i white;
};

[[gnu::target("avx2,fma")]] inline SingleGrey SingleGreyFor(int32_t low, int32_t span) {
  return {_mm256_set1_epi32(low),
          _mm256_set1_epi32(static_cast<int32_t>(std::min<int64_t>(int64_t{low} + span, INT32_MAX))),
          _mm256_set1_ps(static_cast<float>(256.0 / span)),
          _mm256_set1_ps(0.5f),
          _mm256_set1_ps(1.0f / 4096),
          _mm256_set1_ps(1.0f - 1.0f / 4096),
          _mm256_set1_epi32(255)};
}

// The greys of eight values; `unsure` gets the lanes whose grey the formula itself must decide.
[[gnu::target("avx2,fma")]] inline __m256i SingleGreys(const SingleGrey& k, const int32_t* values, __m256& unsure) {
  const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values));
  const __m256i e = _mm256_sub_epi32(_mm256_max_epi32(_mm256_min_epi32(value, k.top), k.bottom), k.bottom);
  const __m256 t = _mm256_fmadd_ps(_mm256_cvtepi32_ps(e), k.scale, k.half);
  const __m256 down = _mm256_floor_ps(t);
  const __m256 part = _mm256_sub_ps(t, down);
  unsure = _mm256_or_ps(unsure, _mm256_or_ps(_mm256_cmp_ps(part, k.near_below, _CMP_LT_OQ),
                                             _mm256_cmp_ps(part, k.near_above, _CMP_GT_OQ)));
  return _mm256_min_epi32(_mm256_cvttps_epi32(down), k.white);
}

[[gnu::target("avx2,fma")]] int GreyPixelsInSingles(const int32_t* values, int count, int32_t low, int32_t span,
                                                    uint32_t* pixels) {
  const SingleGrey k = SingleGreyFor(low, span);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const int whole = count / 8 * 8;
  for (int i = 0; i < whole; i += 8) {
    __m256 unsure = _mm256_setzero_ps();
    const __m256i grey = SingleGreys(k, values + i, unsure);
    if (_mm256_movemask_ps(unsure) != 0) [[unlikely]] {
      QOR_WIDE_CALL(GreyPixelsInDoubles(values + i, 8, low, span, pixels + i));
      continue;
    }
    const __m256i rgb = _mm256_or_si256(grey, _mm256_or_si256(_mm256_slli_epi32(grey, 8), _mm256_slli_epi32(grey, 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + i), _mm256_or_si256(rgb, opaque));
  }
  return whole;
}

// The same for three values a pixel, joined into one colour pixel.
[[gnu::target("avx2,fma")]] int ColourPixelsInSingles(const std::array<const int32_t*, 3>& values, int count,
                                                      int32_t low, int32_t span, uint32_t* pixels) {
  const SingleGrey k = SingleGreyFor(low, span);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const int whole = count / 8 * 8;
  for (int i = 0; i < whole; i += 8) {
    __m256 unsure = _mm256_setzero_ps();
    const __m256i red = SingleGreys(k, values[0] + i, unsure);
    const __m256i green = SingleGreys(k, values[1] + i, unsure);
    const __m256i blue = SingleGreys(k, values[2] + i, unsure);
    if (_mm256_movemask_ps(unsure) != 0) [[unlikely]] {
      ColourPixelsInDoubles(values, i, i + 8, low, span, pixels);
      continue;
    }
    const __m256i rgb = _mm256_or_si256(_mm256_slli_epi32(red, 16), _mm256_or_si256(_mm256_slli_epi32(green, 8), blue));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + i), _mm256_or_si256(rgb, opaque));
  }
  return whole;
}
#elif defined(QOR_NEON_GREYS)
// NEON, which every arm64 processor has: the same single-precision grey as the AVX2 path above,
// with the same fused multiply-add and so the same bound on its error, eight pixels at a time in
// two halves of four. GCC's own vectorizing of the double formula takes twice the instructions.
struct SingleGrey {
  int32x4_t bottom, top;
  float32x4_t scale, half, near_below, near_above;
  int32x4_t white;
};

inline SingleGrey SingleGreyFor(int32_t low, int32_t span) {
  return {vdupq_n_s32(low),
          vdupq_n_s32(static_cast<int32_t>(std::min<int64_t>(int64_t{low} + span, INT32_MAX))),
          vdupq_n_f32(static_cast<float>(256.0 / span)),
          vdupq_n_f32(0.5f),
          vdupq_n_f32(1.0f / 4096),
          vdupq_n_f32(1.0f - 1.0f / 4096),
          vdupq_n_s32(255)};
}

// The greys of four values; `unsure` gets the lanes whose grey the formula itself must decide.
inline int32x4_t SingleGreys(const SingleGrey& k, const int32_t* values, uint32x4_t& unsure) {
  const int32x4_t e = vsubq_s32(vmaxq_s32(vminq_s32(vld1q_s32(values), k.top), k.bottom), k.bottom);
  const float32x4_t t = vfmaq_f32(k.half, vcvtq_f32_s32(e), k.scale);
  const float32x4_t down = vrndmq_f32(t);
  const float32x4_t part = vsubq_f32(t, down);
  unsure = vorrq_u32(unsure, vorrq_u32(vcltq_f32(part, k.near_below), vcgtq_f32(part, k.near_above)));
  return vminq_s32(vcvtq_s32_f32(down), k.white);
}

inline uint32x4_t Opaque(int32x4_t red, int32x4_t green, int32x4_t blue) {
  const uint32x4_t rgb = vreinterpretq_u32_s32(vorrq_s32(vshlq_n_s32(red, 16), vorrq_s32(vshlq_n_s32(green, 8), blue)));
  return vorrq_u32(rgb, vdupq_n_u32(0xFF000000u));
}

int GreyPixelsInSingles(const int32_t* values, int count, int32_t low, int32_t span, uint32_t* pixels) {
  const SingleGrey k = SingleGreyFor(low, span);
  const int whole = count / 8 * 8;
  for (int i = 0; i < whole; i += 8) {
    uint32x4_t unsure = vdupq_n_u32(0);
    const int32x4_t first = SingleGreys(k, values + i, unsure);
    const int32x4_t second = SingleGreys(k, values + i + 4, unsure);
    if (vmaxvq_u32(unsure) != 0) [[unlikely]] {
      GreyPixelsInDoubles(values + i, 8, low, span, pixels + i);
      continue;
    }
    vst1q_u32(pixels + i, Opaque(first, first, first));
    vst1q_u32(pixels + i + 4, Opaque(second, second, second));
  }
  return whole;
}

int ColourPixelsInSingles(const std::array<const int32_t*, 3>& values, int count, int32_t low, int32_t span,
                          uint32_t* pixels) {
  const SingleGrey k = SingleGreyFor(low, span);
  const int whole = count / 4 * 4;
  for (int i = 0; i < whole; i += 4) {
    uint32x4_t unsure = vdupq_n_u32(0);
    const int32x4_t red = SingleGreys(k, values[0] + i, unsure);
    const int32x4_t green = SingleGreys(k, values[1] + i, unsure);
    const int32x4_t blue = SingleGreys(k, values[2] + i, unsure);
    if (vmaxvq_u32(unsure) != 0) [[unlikely]] {
      ColourPixelsInDoubles(values, i, i + 4, low, span, pixels);
      continue;
    }
    vst1q_u32(pixels + i, Opaque(red, green, blue));
  }
  return whole;
}
#endif

}  // namespace

void HistogramBins(const int32_t* values, int count, int32_t low, double bin_width, uint16_t* bins) {
  QOR_WIDE_CALL(HistogramBinsLoop(values, count, low, bin_width, bins));
}

void GreyPixels(const int32_t* values, int count, int32_t low, int32_t span, uint32_t* pixels) {
  int done = 0;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2 && span > 0) done = GreyPixelsInSingles(values, count, low, span, pixels);
#elif defined(QOR_NEON_GREYS)
  if (span > 0) done = GreyPixelsInSingles(values, count, low, span, pixels);
#endif
  QOR_WIDE_CALL(GreyPixelsInDoubles(values + done, count - done, low, span, pixels + done));
}

void ColourPixels(const std::array<const int32_t*, 3>& values, int count, int32_t low, int32_t span, uint32_t* pixels) {
  int done = 0;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2 && span > 0) done = ColourPixelsInSingles(values, count, low, span, pixels);
#elif defined(QOR_NEON_GREYS)
  if (span > 0) done = ColourPixelsInSingles(values, count, low, span, pixels);
#endif
  ColourPixelsInDoubles(values, done, count, low, span, pixels);
}
