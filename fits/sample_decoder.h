#pragma once
// Turns a frame's big-endian samples into the store's pixel values and extremes, a piece at a
// time, so that the reader can decode each piece of the file while it is still in the cache.

#include <cstddef>
#include <cstdint>

#include "fits/frame_store.h"

/// How the samples of an accepted header become stored values.
struct SampleRule {
  int bytes = 2;
  bool is_float = false;     // BITPIX -32: IEEE single precision
  bool is_signed = false;    // with a BZERO offset 16 and 32-bit samples are signed, as FITS has it
  double zero = 0;           // BZERO
  double scale = 1;          // BSCALE
};

/// The rule for the header in `store` (BitPix 8, 16 or 32; `negative_bitpix` for -32).
SampleRule RuleFor(const FrameStore& store, bool negative_bitpix);

class SampleDecoder {
 public:
  /// Decodes into the store's pixels (or its colour plane `plane`) from sample `first` of the
  /// plane on (row after row).
  SampleDecoder(const SampleRule& rule, int width, FrameStore& store, size_t first = 0, int plane = 0);

  /// Decodes `size` bytes of whole samples into the next pixels, row after row. Returns false,
  /// having decoded nothing of this piece, at an unsigned 32-bit sample of 2^31 or more, which has
  /// no signed 32-bit value. `words_ored`: the piece's 8-byte words OR-ed together, as
  /// FrameDigest::Update returns them; the piece must start at a sample.
  bool Feed(const uint8_t* data, size_t size, uint64_t words_ored);

  /// The extremes of the samples decoded so far: in a 16-bit frame no value of 60000 or more is
  /// the maximum.
  int32_t max() const { return max_; }
  int32_t min() const { return min_; }

 private:
  using Span = void (SampleDecoder::*)(const uint8_t* data, int count, int32_t* out);
  template <int kBytes> void Identity(const uint8_t* data, int count, int32_t* out);
  template <int kBytes, bool kSigned> void Offset(const uint8_t* data, int count, int32_t* out);
  void Float(const uint8_t* data, int count, int32_t* out);
  template <int kBytes, bool kSigned, bool kFloat> void Scaled(const uint8_t* data, int count, int32_t* out);

  SampleRule rule_;
  int width_;
  size_t stride_;
  int32_t* plane_;
  Span span_ = nullptr;
  bool check_top_bit_ = false;
  int64_t offset_ = 0;
  int x_ = 0, y_ = 0;
  int32_t max_ = -1;
  int32_t min_ = 2147483647;
};
