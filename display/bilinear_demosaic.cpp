// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/bilinear_demosaic.h"

#include <cstdlib>
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
[[gnu::target("avx2")]] inline __m256i Values(const int32_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Eight pixels at a time in 32-bit lanes, which hold every sum of taps (the caller checks the
// bound); each sum times its gain in 64 bits, of which bits 16 to 47 are the mean, as the plain
// loop computes it.
[[gnu::target("avx2")]] int DemosaicAvx2(const int32_t* row, std::ptrdiff_t stride, int first, int end,
                                         const std::array<std::array<Taps, 3>, 2>& taps,
                                         const std::array<int64_t, 3>& gains, const std::array<int32_t*, 3>& means) {
  const __m256i half = _mm256_set1_epi64x(32768);
  __m256i gain[3];
  for (size_t c = 0; c < 3; ++c) gain[c] = _mm256_set1_epi64x(gains[c]);
  // Lanes 0, 2, 4 and 6 have the parity of `first`, the others the other.
  const std::array<Taps, 3>& even_lanes = taps[static_cast<size_t>(first & 1)];
  const std::array<Taps, 3>& odd_lanes = taps[static_cast<size_t>((first + 1) & 1)];
  const int32_t* above = row - stride;
  const int32_t* below = row + stride;
  int x = first;
  for (; x + 8 <= end; x += 8) {
    const __m256i sides = _mm256_add_epi32(Values(row + x - 1), Values(row + x + 1));
    const __m256i above_below = _mm256_add_epi32(Values(above + x), Values(below + x));
    const __m256i corners = _mm256_add_epi32(_mm256_add_epi32(Values(above + x - 1), Values(above + x + 1)),
                                             _mm256_add_epi32(Values(below + x - 1), Values(below + x + 1)));
    const __m256i sums[] = {_mm256_slli_epi32(Values(row + x), 2), _mm256_slli_epi32(sides, 1),
                            _mm256_slli_epi32(above_below, 1), _mm256_add_epi32(sides, above_below), corners,
                            _mm256_setzero_si256()};
    for (size_t c = 0; c < 3; ++c) {
      const __m256i sum =
          _mm256_blend_epi32(sums[static_cast<size_t>(even_lanes[c])], sums[static_cast<size_t>(odd_lanes[c])], 0xAA);
      const __m256i low_lanes = _mm256_add_epi64(_mm256_mul_epi32(sum, gain[c]), half);
      const __m256i high_lanes = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(sum, 32), gain[c]), half);
      const __m256i mean = _mm256_blend_epi32(_mm256_srli_epi64(low_lanes, 16), _mm256_slli_epi64(high_lanes, 16), 0xAA);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(means[c] + x), mean);
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
  // Every sum of four taps within 32 bits, and each times its gain (below 2^31) plus the half
  // within 47 bits, so that the mean needs no clamping.
  bool exact = largest >= 0 && largest <= (int64_t{1} << 28);
  for (const int64_t gain : gains)
    exact = exact && std::abs(gain) < (int64_t{1} << 31) && 4 * largest * std::abs(gain) + 32768 < (int64_t{1} << 46);
  if (avx2 && exact) first = DemosaicAvx2(row, stride, first, end, taps, gains, means);
#else
  (void)largest;
#endif
  DemosaicPlain(row, stride, first, end, taps, gains, means);
}
