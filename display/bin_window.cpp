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
    int32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), sums[k]);
    for (int32_t lane : lanes) below[k] += lane;
  }
  return found;
}

// A narrow window's count: each eight pixels' differences from the window's start, two lots packed
// into sixteen 16-bit lanes (a difference beyond either end saturates and stays beyond it), so
// that a compare takes sixteen pixels. Packing interleaves the lots by halves: lane j holds the
// pixel kPixelOfLane[j] of the sixteen.
template <int kBins>
[[gnu::target("avx2")]] int CountRowNarrowAvx2(const int32_t* row, int width, const BinWindow& window,
                                              std::array<int64_t, BinWindow::kMaxBins + 1>& below,
                                              uint16_t* uncounted) {
  static constexpr uint8_t kPixelOfLane[16] = {0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15};
  const __m256i first = _mm256_set1_epi32(window.starts[0]);
  __m256i starts[kBins + 1], sums[kBins + 1];
  for (int k = 0; k <= kBins; ++k) {
    starts[k] = _mm256_set1_epi16(static_cast<int16_t>(window.starts[k] - window.starts[0]));
    sums[k] = _mm256_setzero_si256();
  }
  int found = 0, x = 0;
  // A lane counts at most width / 16 pixels of the row (1024): 16 bits hold them.
  for (; x + 16 <= width; x += 16) {
    const __m256i low = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)), first);
    const __m256i high = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x + 8)), first);
    const __m256i values = _mm256_packs_epi32(low, high);
    __m256i under[kBins + 1];
    for (int k = 0; k <= kBins; ++k) {
      under[k] = _mm256_cmpgt_epi16(starts[k], values);
      sums[k] = _mm256_sub_epi16(sums[k], under[k]);
    }
    const unsigned below_first = static_cast<unsigned>(_mm256_movemask_epi8(under[0]));
    const unsigned from_last = ~static_cast<unsigned>(_mm256_movemask_epi8(under[kBins]));
    for (unsigned outside = (below_first | from_last) & 0x55555555u; outside != 0; outside &= outside - 1) [[unlikely]]
      uncounted[found++] = static_cast<uint16_t>(x + kPixelOfLane[__builtin_ctz(outside) / 2]);
  }
  for (; x < width; ++x) uncounted[found++] = static_cast<uint16_t>(x);
  for (int k = 0; k <= kBins; ++k) {
    int16_t lanes[16];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), sums[k]);
    for (int16_t lane : lanes) below[k] += lane;
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
  if (window.narrow) {
    if (window.bins == 4) return CountRowNarrowAvx2<4>(row, width, window, below, uncounted);
    return CountRowNarrowAvx2<8>(row, width, window, below, uncounted);
  }
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
