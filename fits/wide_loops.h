#pragma once
// A pixel loop marked QOR_WITH_AVX2_COPY gets a copy for processors with AVX2, and its calls,
// written QOR_WIDE_CALL(Loop(...)), take that copy where the processor has AVX2: wide instructions
// make the loops several times faster.
// - GCC on Linux makes the copies itself and picks one when the program starts (target_clones);
//   the calls are plain calls.
// - Windows has no way to pick a copy at start (no ifunc): there the loop is inlined into each
//   call twice, once compiled for AVX2, and the call tests the processor (once, then a flag).
// - Clang (the sanitizer and fuzzing builds) cannot yet copy templates: it gets the plain loops.
// The loops that test the processor themselves (__builtin_cpu_supports) keep their AVX2 paths
// everywhere.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define QOR_WITH_AVX2_COPY [[gnu::target_clones("avx2", "default")]]
#define QOR_WIDE_CALL(...) __VA_ARGS__
#elif defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(_WIN32)
#define QOR_WITH_AVX2_COPY [[gnu::always_inline]] inline
#define QOR_WIDE_CALL(...)                                                                   \
  (ProcessorHasAvx2() ? [&]() __attribute__((target("avx2"))) { return __VA_ARGS__; }() \
                      : [&] { return __VA_ARGS__; }())
inline bool ProcessorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
#define QOR_WITH_AVX2_COPY
#define QOR_WIDE_CALL(...) __VA_ARGS__
#endif

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

/// The smallest lane of `lows` and the largest of `highs`: the extremes a wide loop kept lane by
/// lane.
[[gnu::target("avx2")]] inline void LaneExtremes(__m256i lows, __m256i highs, int32_t& low, int32_t& high) {
  int32_t low_lanes[8], high_lanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(low_lanes), lows);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(high_lanes), highs);
  low = *std::min_element(low_lanes, low_lanes + 8);
  high = *std::max_element(high_lanes, high_lanes + 8);
}
#endif
