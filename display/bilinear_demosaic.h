// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bilinear demosaicing of a colour-filter mosaic, a stored row at a time. Each colour of a pixel
// away from the frame's edge is the sum of four taps of its 3 x 3 neighbourhood over four: its own
// colour the pixel itself four times, a colour of two neighbours each of them twice, a colour of
// four neighbours each once. Which taps a colour takes depends only on the pixel's row and column
// parity, so a row needs just two choices per colour.

#include <array>
#include <cstddef>
#include <cstdint>

/// The colour of each stored pixel of a mosaic: 0 red, 1 green, 2 blue.
struct MosaicLayout {
  std::array<std::array<uint8_t, 2>, 2> colour{};  // [stored row parity][column parity]
  int Of(int x, int y) const { return colour[static_cast<size_t>(y & 1)][static_cast<size_t>(x & 1)]; }
};

/// The four taps of a colour: the pixel four times, its left and right neighbours twice, those
/// above and below twice, those four once, the four corners once; none where the neighbourhood
/// holds no site of the colour.
enum class Taps : uint8_t { kOwn, kSides, kAboveBelow, kCross, kCorners, kNone };

/// The taps of each colour for a pixel of each parity: [row parity][column parity][colour].
using TapPlan = std::array<std::array<std::array<Taps, 3>, 2>, 2>;
TapPlan PlanTaps(const MosaicLayout& layout);

/// The sum of the taps around `pixel`, whose rows are `stride` values apart.
int64_t SumOfTaps(Taps taps, const int32_t* pixel, std::ptrdiff_t stride);

/// A sum of four taps times the colour's gain over four in 1/65536ths, rounded to the nearest
/// (halves up) and held within 32 bits: the balanced mean of the taps.
inline int32_t ScaledTapSum(int64_t sum, int64_t gain_quarter_fixed) {
  const int64_t scaled = (sum * gain_quarter_fixed + 32768) >> 16;
  return static_cast<int32_t>(scaled < INT32_MIN ? INT32_MIN : scaled > INT32_MAX ? INT32_MAX : scaled);
}

/// The balanced means of the three colours of pixels [first, end) of the stored row at `row`
/// (the rows above and below exist, as do the columns first - 1 and end), into means[c][x].
/// `taps` are the row's [column parity][colour]; `gains` each colour's gain over four in
/// 1/65536ths; `largest` bounds the magnitude of every value of the three rows.
void DemosaicRow(const int32_t* row, std::ptrdiff_t stride, int first, int end,
                 const std::array<std::array<Taps, 3>, 2>& taps, const std::array<int64_t, 3>& gains,
                 int64_t largest, const std::array<int32_t*, 3>& means);
