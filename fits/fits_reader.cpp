#include "fits/fits_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "fits/fits_format.h"
#include "fits/regular_file.h"
#include "fits/text_numbers.h"

namespace {

using namespace fits_format;

ReadResult FileError(std::string reason) { return {ReadStatus::kFileError, std::move(reason)}; }
std::nullopt_t Changed() { return std::nullopt; }

// True when any big-endian 32-bit sample has its top bit set: the high bit of every fourth byte,
// gathered eight bytes at a time so that the compiler can use wide registers.
bool AnyTopBit(const uint8_t* data, size_t size) {
  uint64_t gathered = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    gathered |= word;
  }
  uint8_t rest = 0;
  for (; i < size; i += 4) rest |= data[i];
  // Bytes 0 and 4 of each word are the samples' first bytes, whatever the machine's byte order.
  uint8_t first[8];
  std::memcpy(first, &gathered, 8);
  return ((first[0] | first[4] | rest) & 0x80) != 0;
}

// A fast 64-bit digest of the data bytes (multiply and rotate over 8-byte words): enough to tell
// one camera frame from the next, not meant to resist anyone.
uint64_t Digest(const uint8_t* data, size_t size, uint64_t seed) {
  constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
  uint64_t a = seed ^ kPrime, b = size * kPrime;
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    uint64_t x, y;
    std::memcpy(&x, data + i, 8);
    std::memcpy(&y, data + i + 8, 8);
    a = std::rotl((a ^ x) * kPrime, 29);
    b = std::rotl((b ^ y) * kPrime, 31);
  }
  for (; i < size; ++i) a = std::rotl((a ^ data[i]) * kPrime, 7);
  return (a ^ std::rotl(b, 17)) * kPrime;
}

double CardValue(std::string_view card) {
  return NumericValueOfText(card.substr(kValueStart, kValueLength));
}

void ScanKeywords(FrameStore& store, bool& bitpix_negative) {
  store.BitPix = -1;
  store.Naxis1 = -1;
  store.Naxis2 = -1;
  store.BZero = 0;
  store.BScale = 1;
  bitpix_negative = false;
  for (int i = 1; i <= store.HeaderCardCount; ++i) {
    std::string_view card = store.HeaderCards[i];
    std::string_view keyword = card.substr(0, kKeywordLength);
    if (keyword == kBitPix) {
      const double value = CardValue(card);
      store.BitPix = std::fabs(value);
      bitpix_negative = value < 0;
    } else if (keyword == kNaxis1) {
      store.Naxis1 = CardValue(card);
    } else if (keyword == kNaxis2) {
      store.Naxis2 = CardValue(card);
    } else if (keyword == kBZero) {
      store.BZero = CardValue(card);
    } else if (keyword == kBScale) {
      store.BScale = CardValue(card);
    }
  }
}

// The header checks in their fixed order; an empty text means the header is accepted.
std::string HeaderFault(const FrameStore& store) {
  if (store.BitPix == -1) return "BITPIX error";
  if (store.BitPix != 8 && store.BitPix != 16 && store.BitPix != 32)
    return "BITPIX error : BITPIX =" + NumberAsText(store.BitPix);
  if (store.Naxis1 == -1) return "NAXIS1 error";
  if (store.Naxis2 == -1) return "NAXIS2 error";
  return {};
}

// How the samples of an accepted header turn into stored values.
struct SampleRule {
  int bytes = 2;
  bool is_float = false;  // BITPIX -32: IEEE single precision
  bool is_signed = false;  // with a BZERO offset the samples are signed, as the FITS standard has it
  bool is_identity = false;  // no offset, no scale: the raw value is stored as it is
  bool is_offset = false;    // a whole-number offset and no scale: integer arithmetic suffices
  double zero = 0;
  double scale = 1;
};

inline uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline double RawSample(const uint8_t* p, const SampleRule& rule) {
  switch (rule.bytes) {
    case 1:
      return p[0];
    case 2: {
      const uint16_t word = static_cast<uint16_t>((p[0] << 8) | p[1]);
      return rule.is_signed ? static_cast<int16_t>(word) : word;
    }
    default: {
      const uint32_t bits = BigEndian32(p);
      if (rule.is_float) {
        float sample;
        std::memcpy(&sample, &bits, sizeof sample);
        return sample;
      }
      return rule.is_signed ? static_cast<double>(static_cast<int32_t>(bits)) : bits;
    }
  }
}

struct Extremes {
  int32_t max = -1;
  int32_t min = std::numeric_limits<int32_t>::max();
};

// In a 16-bit frame values of 60000 and more are taken as saturated and never become the maximum.
template <bool kSixteenBit>
inline void Account(Extremes& e, int32_t value) {
  const int32_t candidate = (!kSixteenBit || value < 60000) ? value : -1;
  e.max = std::max(e.max, candidate);
  e.min = std::min(e.min, value);
}

template <bool kSixteenBit>
Extremes DecodeScaled(const uint8_t* data, int width, int height, const SampleRule& rule,
                      FrameStore& store) {
  Extremes e;
  for (int y = 0; y < height; ++y) {
    int32_t* row = &store.Pixel(0, y);
    const uint8_t* p = data + static_cast<size_t>(y) * width * rule.bytes;
    for (int x = 0; x < width; ++x, p += rule.bytes) {
      const double raw = RawSample(p, rule);
      const int32_t value = rule.is_float && std::isnan(raw)
                                ? 0
                                : RoundToInt32(rule.zero + rule.scale * raw);
      row[x] = value;
      Account<kSixteenBit>(e, value);
    }
  }
  return e;
}

// The common case, unscaled unsigned integers, without any floating point.
template <int kBytes>
Extremes DecodeIdentity(const uint8_t* data, int width, int height, FrameStore& store) {
  Extremes e;
  for (int y = 0; y < height; ++y) {
    int32_t* row = &store.Pixel(0, y);
    const uint8_t* p = data + static_cast<size_t>(y) * width * kBytes;
    for (int x = 0; x < width; ++x, p += kBytes) {
      int32_t value;
      if constexpr (kBytes == 1) value = p[0];
      if constexpr (kBytes == 2) value = (p[0] << 8) | p[1];
      if constexpr (kBytes == 4) value = static_cast<int32_t>(BigEndian32(p));
      row[x] = value;
      Account<kBytes == 2>(e, value);
    }
  }
  return e;
}

// A whole-number BZERO with BSCALE 1 (unsigned 16-bit data written as BZERO 32768, unsigned
// 32-bit as BZERO 2147483648): the same values as the scaled path, in integers.
template <int kBytes, bool kSigned>
Extremes DecodeOffset(const uint8_t* data, int width, int height, int64_t offset, FrameStore& store) {
  Extremes e;
  constexpr int64_t kLow = std::numeric_limits<int32_t>::min(), kHigh = std::numeric_limits<int32_t>::max();
  for (int y = 0; y < height; ++y) {
    int32_t* row = &store.Pixel(0, y);
    const uint8_t* p = data + static_cast<size_t>(y) * width * kBytes;
    for (int x = 0; x < width; ++x, p += kBytes) {
      int64_t raw;
      if constexpr (kBytes == 1) raw = p[0];
      if constexpr (kBytes == 2) raw = kSigned ? int64_t{static_cast<int16_t>((p[0] << 8) | p[1])} : (p[0] << 8) | p[1];
      if constexpr (kBytes == 4)
        raw = kSigned ? int64_t{static_cast<int32_t>(BigEndian32(p))} : int64_t{BigEndian32(p)};
      const int32_t value = static_cast<int32_t>(std::clamp(raw + offset, kLow, kHigh));
      row[x] = value;
      Account<kBytes == 2>(e, value);
    }
  }
  return e;
}

Extremes Decode(const uint8_t* data, int width, int height, const SampleRule& rule,
                FrameStore& store) {
  if (rule.is_offset) {
    const auto offset = static_cast<int64_t>(rule.zero);
    if (rule.bytes == 1) return DecodeOffset<1, false>(data, width, height, offset, store);
    if (rule.bytes == 2)
      return rule.is_signed ? DecodeOffset<2, true>(data, width, height, offset, store)
                            : DecodeOffset<2, false>(data, width, height, offset, store);
    return rule.is_signed ? DecodeOffset<4, true>(data, width, height, offset, store)
                          : DecodeOffset<4, false>(data, width, height, offset, store);
  }
  if (rule.is_identity) {
    if (rule.bytes == 1) return DecodeIdentity<1>(data, width, height, store);
    if (rule.bytes == 2) return DecodeIdentity<2>(data, width, height, store);
    return DecodeIdentity<4>(data, width, height, store);
  }
  if (rule.bytes == 2) return DecodeScaled<true>(data, width, height, rule, store);
  return DecodeScaled<false>(data, width, height, rule, store);
}

}  // namespace

namespace {

// A capture program that rewrites the live file in place can be caught half way: the header of
// one frame with the pixels of the next. A file whose size, times or inode moved during the read
// is read again after a short pause. So is a file modified in the same tick of the file system's
// coarse clock as the read began: a later write in that tick would leave the times unchanged.

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::chrono::nanoseconds Since(const timespec& then, const timespec& now) {
  return std::chrono::seconds(now.tv_sec - then.tv_sec) + std::chrono::nanoseconds(now.tv_nsec - then.tv_nsec);
}

std::chrono::nanoseconds TimestampTick() {
  static const std::chrono::nanoseconds tick = [] {
    timespec resolution {};
    clock_getres(CLOCK_REALTIME_COARSE, &resolution);
    return std::max<std::chrono::nanoseconds>(Since({0, 0}, resolution), std::chrono::milliseconds(1));
  }();
  return tick;
}

bool Unsettled(const struct stat& before, const timespec& opened_at, const struct stat& after) {
  if (before.st_ino != after.st_ino || before.st_size != after.st_size ||
      !SameTime(before.st_mtim, after.st_mtim) || !SameTime(before.st_ctim, after.st_ctim))
    return true;
  // A time well in the future (a file server with another clock) says nothing about this read.
  const auto age = Since(after.st_mtim, opened_at);
  return age < 2 * TimestampTick() && age > -2 * TimestampTick();
}

// Long enough for the coarse clock to move on and for a writer to finish a frame.
std::chrono::nanoseconds RereadPause() {
  return std::max<std::chrono::nanoseconds>(2 * TimestampTick(), std::chrono::milliseconds(10));
}

}  // namespace

ReadResult FrameReader::ReadLiveFrame(FrameStore& store, HeaderErrorSink& sink) {
  std::optional<ReadResult> attempt = ReadOnce(store);
  if (!attempt) {
    std::this_thread::sleep_for(RereadPause());
    attempt = ReadOnce(store);
  }
  const ReadResult result = attempt ? *attempt : FileError("the file changed while it was read");
  // The box is shown only for a header that held still while it was read.
  if (result.status == ReadStatus::kHeaderError) sink.ShowHeaderError(result.message);
  return result;
}

std::optional<ReadResult> FrameReader::ReadOnce(FrameStore& store) {
  store.PixelMax = -1;
  store.PixelMin = std::numeric_limits<int32_t>::max();

  RegularFile file;
  if (const Outcome opened = file.Open(store.LiveFilePath); !opened.ok) return FileError(opened.reason);
  timespec opened_at {};
  clock_gettime(CLOCK_REALTIME, &opened_at);
  const struct stat& before = file.info();
  const uint64_t file_size = static_cast<uint64_t>(before.st_size);
  const auto settled = [&]() {
    struct stat after {};
    return file.Stat(after).ok && !Unsettled(before, opened_at, after);
  };

  // Header pass: whole cards only, up to the END card, never past the store's 500 cards.
  const size_t header_bytes = static_cast<size_t>(
      std::min<uint64_t>(file_size / kCardLength, kMaxHeaderCards) * kCardLength);
  buffer_.resize(std::max(buffer_.size(), header_bytes));
  if (const Outcome read = file.ReadAt(0, buffer_.data(), header_bytes); !read.ok)
    return settled() ? std::optional(FileError("cannot read the header: " + read.reason)) : Changed();

  int end_card = 0;
  const int records = static_cast<int>(header_bytes / kCardLength);
  for (int i = 1; i <= records && end_card == 0; ++i) {
    const char* card = reinterpret_cast<const char*>(buffer_.data()) + (i - 1) * kCardLength;
    store.HeaderCards[i].assign(card, kCardLength);
    if (IsEndCard(store.HeaderCards[i])) end_card = i;
  }
  bool bitpix_negative = false;
  if (end_card == 0) {
    store.HeaderCardCount = 0;
    ScanKeywords(store, bitpix_negative);
    if (!settled()) return Changed();
    if (file_size == 0) return FileError("the file is empty");
    if (file_size / kCardLength > kMaxHeaderCards)
      return FileError("no END card within the first 500 cards");
    return FileError("the header has no END card");
  }
  store.HeaderCardCount = end_card;
  ScanKeywords(store, bitpix_negative);

  if (std::string fault = HeaderFault(store); !fault.empty()) {
    if (!settled()) return Changed();
    return ReadResult{ReadStatus::kHeaderError, store.LiveFilePath + fault};
  }

  const auto width = WalkableAxis(store.Naxis1);
  if (!width) return FileError("NAXIS1 of " + ShortestDecimal(store.Naxis1) + " cannot be read (whole numbers up to 1537 only)");
  const auto height = WalkableAxis(store.Naxis2);
  if (!height) return FileError("NAXIS2 of " + ShortestDecimal(store.Naxis2) + " cannot be read (whole numbers up to 1537 only)");
  if (*width == 0 || *height == 0) {
    ReadResult empty;
    empty.modified = before.st_mtim.tv_sec;
    return empty;
  }

  SampleRule rule;
  rule.bytes = static_cast<int>(store.BitPix) / 8;
  rule.is_float = bitpix_negative && rule.bytes == 4;
  rule.is_signed = store.BZero != 0 && rule.bytes != 1;
  rule.zero = store.BZero;
  rule.scale = store.BScale;
  rule.is_identity = !rule.is_float && store.BZero == 0 && store.BScale == 1;
  rule.is_offset = !rule.is_float && !rule.is_identity && store.BScale == 1 &&
                   std::fabs(store.BZero) <= 4503599627370496.0 && std::floor(store.BZero) == store.BZero;

  const uint64_t data_offset = RoundedCardCount(static_cast<size_t>(end_card)) * kCardLength;
  const size_t data_bytes = static_cast<size_t>(*width) * *height * rule.bytes;
  if (file_size < data_offset + data_bytes)
    return FileError("the file is shorter than its header promises (" + std::to_string(file_size) +
                     " of " + std::to_string(data_offset + data_bytes) + " bytes)");

  buffer_.resize(std::max(buffer_.size(), data_bytes));
  const Outcome read = file.ReadAt(data_offset, buffer_.data(), data_bytes);
  if (!settled()) return Changed();
  if (!read.ok) return FileError("cannot read the data: " + read.reason);

  // Unsigned 32-bit samples of 2^31 and more have no signed 32-bit value: refuse the frame before
  // any pixel is overwritten.
  if (rule.bytes == 4 && !rule.is_float && !rule.is_signed && AnyTopBit(buffer_.data(), data_bytes))
    return FileError("a 32-bit sample has its top bit set");

  const Extremes e = Decode(buffer_.data(), *width, *height, rule, store);
  store.PixelMax = e.max;
  store.PixelMin = e.min;
  ReadResult accepted;
  accepted.data_digest = Digest(buffer_.data(), data_bytes, static_cast<uint64_t>(*width) << 32 | *height);
  accepted.modified = before.st_mtim.tv_sec;
  return accepted;
}
