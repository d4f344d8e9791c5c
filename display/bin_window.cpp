#include "display/bin_window.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

#if defined(__x86_64__)

template <int kBins>
[[gnu::target("avx2")]] int CountRowAvx2(const int32_t* row, int width, const BinWindow& window,
                                        std::array<int64_t, BinWindow::kMaxBins + 1>& below, uint16_t* uncounted) {
  __m256i starts[kBins + 1], sums[kBins + 1];
  for (int k = 0; k <= kBins; ++k) {
    starts[k] = _mm256_set1_epi32(window.starts[k]);
    sums[k] = _mm256_setzero_si256();
  }
  int found = 0, x = 0;
  // A lane counts at most width / 8 pixels of the row: 32 bits hold them.
  for (; x + 8 <= width; x += 8) {
    const __m256i values = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    __m256i under[kBins + 1];
    for (int k = 0; k <= kBins; ++k) {
      under[k] = _mm256_cmpgt_epi32(starts[k], values);  // all ones where the value is below
      sums[k] = _mm256_sub_epi32(sums[k], under[k]);
    }
    const int below_first = _mm256_movemask_ps(_mm256_castsi256_ps(under[0]));
    const int from_last = _mm256_movemask_ps(_mm256_castsi256_ps(under[kBins])) ^ 0xFF;
    // Outside pixels are rare: stars, hot pixels.
    for (int outside = below_first | from_last; outside != 0; outside &= outside - 1) [[unlikely]]
      uncounted[found++] = static_cast<uint16_t>(x + __builtin_ctz(static_cast<unsigned>(outside)));
  }
  for (; x < width; ++x) uncounted[found++] = static_cast<uint16_t>(x);
  for (int k = 0; k <= kBins; ++k) {
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums[k]);
    for (int32_t lane : lanes) below[k] += lane;
  }
  return found;
}

#endif

}  // namespace

bool CanCountInWindow() {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

int CountRowInWindow(const int32_t* row, int width, const BinWindow& window,
                     std::array<int64_t, BinWindow::kMaxBins + 1>& below, uint16_t* uncounted) {
#if defined(__x86_64__)
  if (window.bins == 4) return CountRowAvx2<4>(row, width, window, below, uncounted);
  return CountRowAvx2<8>(row, width, window, below, uncounted);
#else
  // Elsewhere CanCountInWindow() keeps this from being called; were it called, the formula would
  // count every pixel.
  (void)window, (void)below, (void)row;
  for (int x = 0; x < width; ++x) uncounted[x] = static_cast<uint16_t>(x);
  return width;
#endif
}
