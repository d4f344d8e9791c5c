#include "fits/sample_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "fits/text_numbers.h"
#include "fits/wide_loops.h"

namespace {

inline uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint32_t BigEndian16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

// True when any big-endian 32-bit sample of a piece has its top bit set, from the OR of the piece's
// 8-byte words: bytes 0 and 4 of each word are the samples' first bytes, whatever the machine's
// byte order.
bool AnyTopBit(uint64_t words_ored) {
  uint8_t first[8];
  std::memcpy(first, &words_ored, 8);
  return ((first[0] | first[4]) & 0x80) != 0;
}

// In a 16-bit frame values of 60000 and more are taken as saturated and never become the maximum.
template <int kBytes>
inline int32_t MaximumCandidate(int32_t value) {
  if constexpr (kBytes == 2) return value < 60000 ? value : -1;
  return value;
}

// The loops over one run of samples. Each has a copy for processors with AVX2, chosen when the
// program starts: wide minimum, maximum and byte-swap instructions make them several times faster.

// Unscaled unsigned integers: the raw value is the value.
template <int kBytes>
QOR_WITH_AVX2_COPY void IdentitySpan(const uint8_t* data, int count, int32_t* out,
                                                            int32_t& min, int32_t& max) {
  int32_t low = min, high = max;
  for (int i = 0; i < count; ++i) {
    int32_t value;
    if constexpr (kBytes == 1) value = data[i];
    if constexpr (kBytes == 2) value = static_cast<int32_t>(BigEndian16(data + 2 * i));
    if constexpr (kBytes == 4) value = static_cast<int32_t>(BigEndian32(data + 4 * i));
    out[i] = value;
    low = std::min(low, value);
    high = std::max(high, MaximumCandidate<kBytes>(value));
  }
  min = low;
  max = high;
}

// 8 and 16-bit samples with a whole-number offset that keeps every value within 32 bits.
template <int kBytes, bool kSigned>
QOR_WITH_AVX2_COPY void OffsetSpan(const uint8_t* data, int count, int32_t offset, int32_t* out,
                                                          int32_t& min, int32_t& max) {
  int32_t low = min, high = max;
  for (int i = 0; i < count; ++i) {
    int32_t raw;
    if constexpr (kBytes == 1) raw = data[i];
    if constexpr (kBytes == 2)
      raw = kSigned ? int32_t{static_cast<int16_t>(BigEndian16(data + 2 * i))} : static_cast<int32_t>(BigEndian16(data + 2 * i));
    const int32_t value = raw + offset;
    out[i] = value;
    low = std::min(low, value);
    high = std::max(high, MaximumCandidate<kBytes>(value));
  }
  min = low;
  max = high;
}

// Unsigned 32-bit data as FITS writes it, signed samples with BZERO 2147483648: the value is the
// sample with its top bit flipped, saturated at the largest signed 32-bit value.
QOR_WITH_AVX2_COPY void Unsigned32Span(const uint8_t* data, int count, int32_t* out,
                                                              int32_t& min, int32_t& max) {
  int32_t low = min, high = max;
  for (int i = 0; i < count; ++i) {
    const uint32_t unsigned_value = BigEndian32(data + 4 * i) ^ 0x80000000u;
    // All ones where the top bit is set, so that those values become 0x7FFFFFFF without a branch.
    const uint32_t over = static_cast<uint32_t>(static_cast<int32_t>(unsigned_value) >> 31);
    const int32_t value = static_cast<int32_t>((unsigned_value | over) & 0x7FFFFFFFu);
    out[i] = value;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  min = low;
  max = high;
}

// IEEE floats with no offset and no scale, rounded halves to even in single precision (a float
// of 2^23 or more is whole already), saturated; NaN and the infinities are stored as 0: calibrated
// frames mark dead or saturated pixels so, and as the extremes they would whiten the picture. The same values as the
// double-precision path, with twice as many samples in a register.
QOR_WITH_AVX2_COPY void FloatSpan(const uint8_t* data, int count, int32_t* out, int32_t& min, int32_t& max) {
  int32_t low = min, high = max;
  for (int i = 0; i < count; ++i) {
    // A NaN or an infinity (all exponent bits) becomes 0 before any conversion: converting a NaN
    // to an integer is undefined. Tested on the bits, so that the loop keeps its wide registers.
    const uint32_t raw_bits = BigEndian32(data + 4 * i);
    const uint32_t keep = 0u - static_cast<uint32_t>((raw_bits & 0x7FFFFFFFu) < 0x7F800000u);
    const uint32_t bits = raw_bits & keep;
    float sample;
    std::memcpy(&sample, &bits, sizeof sample);
    const float rounded = std::nearbyint(sample);
    // 2147483520 is the largest float below 2^31; from 2^31 on the value saturates.
    const int32_t inside = static_cast<int32_t>(std::max(-2147483648.0f, std::min(rounded, 2147483520.0f)));
    const int32_t over = -static_cast<int32_t>(rounded >= 2147483648.0f);
    const int32_t value = (inside & ~over) | (2147483647 & over);
    out[i] = value;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  min = low;
  max = high;
}

#if defined(__x86_64__)
// The same, eight floats at a time: one conversion rounds halves to even and gives 0x80000000 for
// a NaN and for anything beyond 32 bits; a group with that value anywhere (rare) takes the loop
// above, which tells those apart. Returns how many samples it took: whole groups of eight.
[[gnu::target("avx2")]] int FloatGroups(const uint8_t* data, int count, int32_t* out, int32_t& min, int32_t& max) {
  const __m256i byte_order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                              3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  const __m256i marker = _mm256_set1_epi32(INT32_MIN);
  __m256i low = _mm256_set1_epi32(min), high = _mm256_set1_epi32(max);
  const int whole = count / 8 * 8;
  for (int i = 0; i < whole; i += 8) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 4 * i));
    const __m256i bits = _mm256_shuffle_epi8(raw, byte_order);
    const __m256i value = _mm256_cvtps_epi32(_mm256_castsi256_ps(bits));
    const __m256i special = _mm256_cmpeq_epi32(value, marker);
    if (!_mm256_testz_si256(special, special)) [[unlikely]] {
      int32_t group_min = INT32_MAX, group_max = INT32_MIN;
      QOR_WIDE_CALL(FloatSpan(data + 4 * i, 8, out + i, group_min, group_max));
      low = _mm256_min_epi32(low, _mm256_set1_epi32(group_min));
      high = _mm256_max_epi32(high, _mm256_set1_epi32(group_max));
      continue;
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), value);
    low = _mm256_min_epi32(low, value);
    high = _mm256_max_epi32(high, value);
  }
  LaneExtremes(low, high, min, max);
  return whole;
}
#endif

// BZERO + BSCALE x sample in double precision, rounded halves to even and saturated; a float's
// NaN or infinity is stored as 0.
template <int kBytes, bool kSigned, bool kFloat>
QOR_WITH_AVX2_COPY void ScaledSpan(const uint8_t* data, int count, double zero, double scale,
                                                          int32_t* out, int32_t& min, int32_t& max) {
  int32_t low = min, high = max;
  for (int i = 0; i < count; ++i) {
    double raw;
    if constexpr (kFloat) {
      const uint32_t bits = BigEndian32(data + 4 * i);
      float sample;
      std::memcpy(&sample, &bits, sizeof sample);
      raw = (bits & 0x7FFFFFFFu) < 0x7F800000u ? sample : std::nan("");
    } else if constexpr (kBytes == 1) {
      raw = data[i];
    } else if constexpr (kBytes == 2) {
      raw = kSigned ? double(static_cast<int16_t>(BigEndian16(data + 2 * i))) : double(BigEndian16(data + 2 * i));
    } else {
      raw = kSigned ? double(static_cast<int32_t>(BigEndian32(data + 4 * i))) : double(BigEndian32(data + 4 * i));
    }
    const int32_t value = RoundToInt32(zero + scale * raw);  // a NaN gives 0
    out[i] = value;
    low = std::min(low, value);
    high = std::max(high, MaximumCandidate<kBytes>(value));
  }
  min = low;
  max = high;
}

}  // namespace

SampleRule RuleFor(const FrameStore& store, bool negative_bitpix) {
  SampleRule rule;
  rule.bytes = static_cast<int>(store.BitPix) / 8;
  rule.is_float = negative_bitpix && rule.bytes == 4;
  rule.is_signed = store.BZero != 0 && rule.bytes != 1;
  rule.zero = store.BZero;
  rule.scale = store.BScale;
  return rule;
}

SampleDecoder::SampleDecoder(const SampleRule& rule, int width, FrameStore& store, size_t first, int plane)
    : rule_(rule), width_(width), stride_(static_cast<size_t>(store.Stride)), plane_(store.Plane(plane)), x_(static_cast<int>(first % static_cast<size_t>(width))),
      y_(static_cast<int>(first / static_cast<size_t>(width))) {
  const bool identity = !rule.is_float && rule.zero == 0 && rule.scale == 1;
  // A whole-number BZERO with BSCALE 1 gives the same values in integer arithmetic: for 8 and
  // 16-bit samples whenever every value stays within 32 bits, for 32-bit samples where the
  // offset is 2147483648 (unsigned data as FITS stores it). Other offsets take the scaled path.
  const bool whole = !rule.is_float && !identity && rule.scale == 1 && std::floor(rule.zero) == rule.zero;
  const bool offset = whole && (rule.bytes <= 2 ? std::fabs(rule.zero) <= 2147483647.0 - 65536.0
                                                : rule.is_signed && rule.zero == 2147483648.0);
  check_top_bit_ = rule.bytes == 4 && !rule.is_float && !rule.is_signed;
  offset_ = offset ? static_cast<int64_t>(rule.zero) : 0;
  if (identity) {
    span_ = rule.bytes == 1 ? &SampleDecoder::Identity<1> : rule.bytes == 2 ? &SampleDecoder::Identity<2>
                                                                            : &SampleDecoder::Identity<4>;
  } else if (offset) {
    if (rule.bytes == 1) span_ = &SampleDecoder::Offset<1, false>;
    else if (rule.bytes == 2) span_ = rule.is_signed ? &SampleDecoder::Offset<2, true> : &SampleDecoder::Offset<2, false>;
    else span_ = &SampleDecoder::Offset<4, true>;
  } else if (rule.is_float && rule.zero == 0 && rule.scale == 1) {
    span_ = &SampleDecoder::Float;
  } else if (rule.is_float) {
    span_ = &SampleDecoder::Scaled<4, true, true>;
  } else if (rule.bytes == 1) {
    span_ = &SampleDecoder::Scaled<1, false, false>;
  } else if (rule.bytes == 2) {
    span_ = rule.is_signed ? &SampleDecoder::Scaled<2, true, false> : &SampleDecoder::Scaled<2, false, false>;
  } else {
    span_ = rule.is_signed ? &SampleDecoder::Scaled<4, true, false> : &SampleDecoder::Scaled<4, false, false>;
  }
}

bool SampleDecoder::Feed(const uint8_t* data, size_t size, uint64_t words_ored) {
  if (check_top_bit_ && AnyTopBit(words_ored)) return false;
  size_t samples = size / static_cast<size_t>(rule_.bytes);
  while (samples > 0) {
    const int count = static_cast<int>(std::min<size_t>(samples, static_cast<size_t>(width_ - x_)));
    (this->*span_)(data, count, plane_ + x_ + stride_ * y_);
    data += static_cast<size_t>(count) * rule_.bytes;
    samples -= static_cast<size_t>(count);
    x_ += count;
    if (x_ == width_) {
      x_ = 0;
      ++y_;
    }
  }
  return true;
}

template <int kBytes>
void SampleDecoder::Identity(const uint8_t* data, int count, int32_t* out) {
  QOR_WIDE_CALL(IdentitySpan<kBytes>(data, count, out, min_, max_));
}

template <int kBytes, bool kSigned>
void SampleDecoder::Offset(const uint8_t* data, int count, int32_t* out) {
  if constexpr (kBytes == 4) QOR_WIDE_CALL(Unsigned32Span(data, count, out, min_, max_));
  else QOR_WIDE_CALL(OffsetSpan<kBytes, kSigned>(data, count, static_cast<int32_t>(offset_), out, min_, max_));
}

void SampleDecoder::Float(const uint8_t* data, int count, int32_t* out) {
  int done = 0;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) done = FloatGroups(data, count, out, min_, max_);
#endif
  QOR_WIDE_CALL(FloatSpan(data + 4 * done, count - done, out + done, min_, max_));
}

template <int kBytes, bool kSigned, bool kFloat>
void SampleDecoder::Scaled(const uint8_t* data, int count, int32_t* out) {
  QOR_WIDE_CALL(ScaledSpan<kBytes, kSigned, kFloat>(data, count, rule_.zero, rule_.scale, out, min_, max_));
}
