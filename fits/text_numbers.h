#pragma once
// Numbers read from and written into the system's texts (coefficients, FITS card values, status
// line). All of it is independent of the process locale: "." is the decimal point everywhere.

#include <cstdint>
#include <string>
#include <string_view>

/// The number at the start of a text: blanks, tabs and line feeds are skipped wherever they stand,
/// then an optional sign, digits with at most one ".", and an optional exponent after E or D.
/// Reading stops at the first character that cannot continue the number; no number gives 0.
/// An exponent too large for a double gives plus or minus infinity.
double NumericValueOfText(std::string_view text);

/// Shortest decimal form with up to 15 significant digits: 64 -> "64", 7.5 -> "7.5".
std::string ShortestDecimal(double value);

/// A count as shown after a text: one leading blank for 0 or more, a minus sign otherwise.
std::string NumberAsText(double value);

/// A real stored into a 32-bit integer: nearest, exact halves to the even neighbour, saturated at
/// the ends of the range; NaN gives 0. Inline: the reader calls it for every scaled sample.
inline int32_t RoundToInt32(double value) {
  // Without branches, so that loops over many samples can use wide registers.
  value = value == value ? value : 0.0;                                    // NaN
  value = value < -2147483648.0 ? -2147483648.0 : value;                   // saturate
  value = value > 2147483647.0 ? 2147483647.0 : value;
  // Adding and taking away 1.5 x 2^52 leaves no fraction: the sum is rounded to the nearest
  // whole number, halves to even, as the default rounding mode does (|value| <= 2^31 here).
  constexpr double kMagic = 6755399441055744.0;
  return static_cast<int32_t>((value + kMagic) - kMagic);
}

/// A 64-bit value limited to the signed 32-bit range.
int32_t SaturateToInt32(int64_t value);
