#pragma once
// The display's two per-pixel formulas, computed a row at a time so that wide instructions can
// take several pixels at once, every result still exactly the formula's: the bins with the very
// operations of the formula (a division, an addition, rounding down), the greys without the
// division where that gives the same grey.

#include <array>
#include <cstdint>

/// Bin 300: every value that no bin takes (bin 300 and beyond, below bin 0).
inline constexpr uint16_t kNoBin = 300;

/// For each value, ((value - low) / bin_width + 0.5) rounded down, or kNoBin outside 0 to 299.
void HistogramBins(const int32_t* values, int count, int32_t low, double bin_width, uint16_t* bins);

/// For each value, ((value - low) / span x 256 + 0.5) rounded down and clamped to 0..255, as an
/// opaque grey pixel 0xFFgggggg.
void GreyPixels(const int32_t* values, int count, int32_t low, int32_t span, uint32_t* pixels);

/// For each pixel, the grey of each of its red, green and blue values as GreyPixels computes it,
/// joined into one opaque colour pixel 0xFFrrggbb.
void ColourPixels(const std::array<const int32_t*, 3>& values, int count, int32_t low, int32_t span, uint32_t* pixels);
