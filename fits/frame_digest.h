#pragma once
// A fast 64-bit digest of a frame's data bytes, taken piece by piece as the reader reads them:
// enough to tell one camera frame from the next, not meant to resist anyone.

#include <cstddef>
#include <cstdint>

class FrameDigest {
 public:
  explicit FrameDigest(uint64_t seed);

  /// The part of a digest that begins `offset` bytes into the data (a multiple of 64), taken on
  /// its own so that another thread can take it; it may be given whole stripes only.
  static FrameDigest PartFrom(uint64_t offset);
  /// Takes in `part`, which begins where the bytes taken so far end: the same digest as if this
  /// one had taken its bytes.
  void Append(const FrameDigest& part);

  /// Every piece but the last must be a multiple of 64 bytes long. Returns the piece's 8-byte
  /// words OR-ed together (a last short word padded with zeros), so that a check of every sample's
  /// bits needs no pass of its own.
  uint64_t Update(const uint8_t* data, size_t size);
  uint64_t Finish() const;

 private:
  FrameDigest() = default;

  uint64_t lanes_[8] = {};
  uint64_t stripes_ = 0;  // 64-byte stripes taken so far: each weighs its words by its position
  uint64_t size_ = 0;
};
