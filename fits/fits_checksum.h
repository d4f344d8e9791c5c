// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The FITS checksum convention: DATASUM, the 32-bit ones' complement sum of the data unit, and
// CHECKSUM, 16 characters that make the sum of the whole header and data unit all ones.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fits_checksum {

/// The ones' complement sum of `size` bytes (a multiple of 4) read as big-endian 32-bit words.
uint32_t Sum(const uint8_t* bytes, size_t size);
/// The 16 characters for CHECKSUM that encode `value` (the complement of the HDU's sum).
std::string Encode(uint32_t value);
/// The sum of two pieces' sums: the sum of the pieces one after the other (each a multiple of 4).
uint32_t Add(uint32_t a, uint32_t b);
/// Rewrites the values of the CHECKSUM and DATASUM cards where the header (whole 2880-byte
/// blocks) has them, to fit the header as it now is and a data unit whose sum is `data_sum`. A
/// header without them is left as it is.
void UpdateWithDataSum(uint8_t* header, size_t header_bytes, uint32_t data_sum);

}  // namespace fits_checksum
