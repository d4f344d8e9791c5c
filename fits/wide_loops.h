#pragma once
// GCC makes an AVX2 copy of a function marked QOR_WITH_AVX2_COPY and picks it when the program
// starts: wide instructions make the pixel loops several times faster. Clang (the sanitizer and
// fuzzing builds) cannot yet do that for templates, and Windows has no way to pick a copy at
// start (no ifunc): both get the plain loops. The loops that test the processor themselves
// (__builtin_cpu_supports) keep their AVX2 paths everywhere.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define QOR_WITH_AVX2_COPY [[gnu::target_clones("avx2", "default")]]
#else
#define QOR_WITH_AVX2_COPY
#endif

#if defined(__x86_64__)
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

/// The smallest lane of `lows` and the largest of `highs`: the extremes a wide loop kept lane by
/// lane.
[[gnu::target("avx2")]] inline void LaneExtremes(__m256i lows, __m256i highs, int32_t& low, int32_t& high) {
  alignas(32) int32_t low_lanes[8], high_lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(low_lanes), lows);
  _mm256_store_si256(reinterpret_cast<__m256i*>(high_lanes), highs);
  low = *std::min_element(low_lanes, low_lanes + 8);
  high = *std::max_element(high_lanes, high_lanes + 8);
}
#endif
