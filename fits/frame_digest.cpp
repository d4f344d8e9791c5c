#include "fits/frame_digest.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif


namespace {

constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kStripeStep = 0xC2B2AE3D27D4EB4Full;

// Each 8-byte word of a 64-byte stripe goes to its own lane: the word itself plus the product of
// the two 32-bit halves of the word mixed with a key of its lane and stripe. No multiplication
// waits on another; the key's stripe term makes the order of the stripes count.
inline uint64_t KeyOf(int lane) { return kPrime * static_cast<uint64_t>(lane + 1); }

uint64_t AddStripesPlain(const uint8_t* data, size_t stripes, uint64_t first_stripe, uint64_t* lanes) {
  uint64_t ored = 0;
  for (size_t s = 0; s < stripes; ++s) {
    const uint64_t position = (first_stripe + s) * kStripeStep;
    for (int lane = 0; lane < 8; ++lane) {
      uint64_t word;
      std::memcpy(&word, data + 64 * s + 8 * lane, 8);
      const uint64_t keyed = word ^ (KeyOf(lane) + position);
      lanes[lane] += word + (keyed & 0xFFFFFFFFu) * (keyed >> 32);
      ored |= word;
    }
  }
  return ored;
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] inline __m256i AddWords(__m256i sums, __m256i words, __m256i keys) {
  const __m256i keyed = _mm256_xor_si256(words, keys);
  const __m256i product = _mm256_mul_epu32(keyed, _mm256_srli_epi64(keyed, 32));
  return _mm256_add_epi64(sums, _mm256_add_epi64(words, product));
}

// The same sums, four lanes to a register.
[[gnu::target("avx2")]] uint64_t AddStripesAvx2(const uint8_t* data, size_t stripes, uint64_t first_stripe,
                                            uint64_t* lanes) {
  __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
  __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + 4));
  const __m256i low_keys = _mm256_set_epi64x(static_cast<int64_t>(KeyOf(3)), static_cast<int64_t>(KeyOf(2)),
                                             static_cast<int64_t>(KeyOf(1)), static_cast<int64_t>(KeyOf(0)));
  const __m256i high_keys = _mm256_set_epi64x(static_cast<int64_t>(KeyOf(7)), static_cast<int64_t>(KeyOf(6)),
                                              static_cast<int64_t>(KeyOf(5)), static_cast<int64_t>(KeyOf(4)));
  // The keys of the stripe at hand, moved on by one stripe's step at a time (the same products as
  // KeyOf(lane) + position, without a multiplication and a broadcast per stripe).
  const __m256i position = _mm256_set1_epi64x(static_cast<int64_t>(first_stripe * kStripeStep));
  const __m256i step = _mm256_set1_epi64x(static_cast<int64_t>(kStripeStep));
  __m256i low_keyed = _mm256_add_epi64(low_keys, position), high_keyed = _mm256_add_epi64(high_keys, position);
  __m256i ored = _mm256_setzero_si256();
  for (size_t s = 0; s < stripes; ++s) {
    const auto* stripe = reinterpret_cast<const __m256i*>(data + 64 * s);
    const __m256i first = _mm256_loadu_si256(stripe), second = _mm256_loadu_si256(stripe + 1);
    low = AddWords(low, first, low_keyed);
    high = AddWords(high, second, high_keyed);
    low_keyed = _mm256_add_epi64(low_keyed, step);
    high_keyed = _mm256_add_epi64(high_keyed, step);
    ored = _mm256_or_si256(ored, _mm256_or_si256(first, second));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), low);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 4), high);
  uint64_t words[4];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(words), ored);
  return words[0] | words[1] | words[2] | words[3];
}
#endif

uint64_t AddStripes(const uint8_t* data, size_t stripes, uint64_t first_stripe, uint64_t* lanes) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return AddStripesAvx2(data, stripes, first_stripe, lanes);
#endif
  return AddStripesPlain(data, stripes, first_stripe, lanes);
}

uint64_t Mix(uint64_t value) {
  value ^= value >> 33;
  value *= kPrime;
  value ^= value >> 29;
  return value;
}

}  // namespace

FrameDigest::FrameDigest(uint64_t seed) {
  for (int lane = 0; lane < 8; ++lane) lanes_[lane] = Mix(seed + static_cast<uint64_t>(lane));
}

// A stripe's words are added to the lanes, whatever came before, so a part taken from zero lanes
// and added later gives the same lanes; only the last short stripe is mixed in, in order.
FrameDigest FrameDigest::PartFrom(uint64_t offset) {
  FrameDigest part;
  part.stripes_ = offset / 64;
  part.size_ = offset;
  return part;
}

void FrameDigest::Append(const FrameDigest& part) {
  for (int lane = 0; lane < 8; ++lane) lanes_[lane] += part.lanes_[lane];
  stripes_ = part.stripes_;
  size_ = part.size_;
}

uint64_t FrameDigest::Update(const uint8_t* data, size_t size) {
  const size_t stripes = size / 64;
  uint64_t ored = AddStripes(data, stripes, stripes_, lanes_);
  stripes_ += stripes;
  uint8_t rest[8] = {};
  for (size_t i = stripes * 64; i < size; ++i) {
    lanes_[i % 8] = std::rotl((lanes_[i % 8] ^ data[i]) * kPrime, 31);
    rest[i % 8] |= data[i];
  }
  uint64_t rest_word;
  std::memcpy(&rest_word, rest, 8);
  size_ += size;
  return ored | rest_word;
}

uint64_t FrameDigest::Finish() const {
  uint64_t digest = Mix(size_);
  for (uint64_t lane : lanes_) digest = Mix(digest ^ Mix(lane));
  return digest;
}
