// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/bilinear_demosaic.h"

#include <cmath>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

TapPlan PlanTaps(const MosaicLayout& layout) {
  TapPlan plan{};
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 2; ++column)
      for (int colour = 0; colour < 3; ++colour) {
        const bool sides = layout.Of(column + 1, row) == colour, above_below = layout.Of(column, row + 1) == colour;
        Taps& taps = plan[static_cast<size_t>(row)][static_cast<size_t>(column)][static_cast<size_t>(colour)];
        if (layout.Of(column, row) == colour) taps = Taps::kOwn;
        else if (sides && above_below) taps = Taps::kCross;
        else if (sides) taps = Taps::kSides;
        else if (above_below) taps = Taps::kAboveBelow;
        else if (layout.Of(column + 1, row + 1) == colour) taps = Taps::kCorners;
        else taps = Taps::kNone;
      }
  return plan;
}

int64_t SumOfTaps(Taps taps, const int32_t* p, std::ptrdiff_t stride) {
  switch (taps) {
    case Taps::kOwn: return 4 * int64_t{p[0]};
    case Taps::kSides: return 2 * (int64_t{p[-1]} + p[1]);
    case Taps::kAboveBelow: return 2 * (int64_t{p[-stride]} + p[stride]);
    case Taps::kCross: return int64_t{p[-1]} + p[1] + p[-stride] + p[stride];
    case Taps::kCorners: return int64_t{p[-stride - 1]} + p[-stride + 1] + p[stride - 1] + p[stride + 1];
    case Taps::kNone: break;
  }
  return 0;
}

namespace {

void DemosaicPlain(const int32_t* row, std::ptrdiff_t stride, int first, int end,
                   const std::array<std::array<Taps, 3>, 2>& taps, const std::array<int64_t, 3>& gains,
                   const std::array<int32_t*, 3>& means) {
  for (int x = first; x < end; ++x)
    for (size_t c = 0; c < 3; ++c)
      means[c][x] = ScaledTapSum(SumOfTaps(taps[static_cast<size_t>(x & 1)][c], row + x, stride), gains[c]);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] inline __m256d Values(const int32_t* at) {
  return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

// Four pixels at a time in doubles, which hold every sum and product exactly (the caller checks
// the bound), so that each mean is the very one of the plain loop.
[[gnu::target("avx2")]] int DemosaicAvx2(const int32_t* row, std::ptrdiff_t stride, int first, int end,
                                         const std::array<std::array<Taps, 3>, 2>& taps,
                                         const std::array<int64_t, 3>& gains, const std::array<int32_t*, 3>& means) {
  const __m256d two = _mm256_set1_pd(2), four = _mm256_set1_pd(4), half = _mm256_set1_pd(32768);
  const __m256d unit = _mm256_set1_pd(1.0 / 65536), lowest = _mm256_set1_pd(INT32_MIN), highest = _mm256_set1_pd(INT32_MAX);
  __m256d gain[3];
  for (size_t c = 0; c < 3; ++c) gain[c] = _mm256_set1_pd(static_cast<double>(gains[c]));
  // Lanes 0 and 2 have the parity of `first`, lanes 1 and 3 the other.
  const std::array<Taps, 3>& even_lanes = taps[static_cast<size_t>(first & 1)];
  const std::array<Taps, 3>& odd_lanes = taps[static_cast<size_t>((first + 1) & 1)];
  const int32_t* above = row - stride;
  const int32_t* below = row + stride;
  int x = first;
  for (; x + 4 <= end; x += 4) {
    const __m256d sides = _mm256_add_pd(Values(row + x - 1), Values(row + x + 1));
    const __m256d above_below = _mm256_add_pd(Values(above + x), Values(below + x));
    const __m256d corners = _mm256_add_pd(_mm256_add_pd(Values(above + x - 1), Values(above + x + 1)),
                                          _mm256_add_pd(Values(below + x - 1), Values(below + x + 1)));
    const __m256d sums[] = {_mm256_mul_pd(four, Values(row + x)), _mm256_mul_pd(two, sides),
                            _mm256_mul_pd(two, above_below), _mm256_add_pd(sides, above_below), corners,
                            _mm256_setzero_pd()};
    for (size_t c = 0; c < 3; ++c) {
      const __m256d sum = _mm256_blend_pd(sums[static_cast<size_t>(even_lanes[c])], sums[static_cast<size_t>(odd_lanes[c])], 0xA);
      __m256d mean = _mm256_floor_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(sum, gain[c]), half), unit));
      mean = _mm256_min_pd(_mm256_max_pd(mean, lowest), highest);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(means[c] + x), _mm256_cvttpd_epi32(mean));
    }
  }
  return x;
}
#endif

}  // namespace

void DemosaicRow(const int32_t* row, std::ptrdiff_t stride, int first, int end,
                 const std::array<std::array<Taps, 3>, 2>& taps, const std::array<int64_t, 3>& gains,
                 int64_t largest, const std::array<int32_t*, 3>& means) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  // A sum of four taps times a gain, plus the half, must stay below 2^53 to be exact in a double.
  bool exact = largest >= 0 && largest <= (int64_t{1} << 31);
  for (const int64_t gain : gains) exact = exact && 4.0 * static_cast<double>(largest) * std::abs(static_cast<double>(gain)) < 0x1p52;
  if (avx2 && exact) first = DemosaicAvx2(row, stride, first, end, taps, gains, means);
#else
  (void)largest;
#endif
  DemosaicPlain(row, stride, first, end, taps, gains, means);
}
