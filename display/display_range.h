#pragma once
// The automatic display range: from a 301-bin histogram of the frame, the band of pixel values
// that the rendering spreads over the grey ramp.

#include <array>
#include <cstdint>

#include "fits/frame_store.h"

/// Sets store.DisplayLow and store.DisplaySpan from the frame's histogram, or keeps them where no
/// bin qualifies; DisplaySpan is at least 1 afterwards. Never counts outside bins 0 to 299, also
/// when the extremes are inverted or equal, or their difference leaves the 32-bit range.
/// Returns the histogram's peak bin (0 where nothing was counted).
int ComputeDisplayRange(FrameStore& store);

/// The histogram of the frame's pixels between PixelMin and PixelMax, bins 0 to 300 (bin 300 and
/// beyond are never counted, nor are bins below 0); all zero where PixelMax is not above PixelMin.
std::array<int64_t, 301> CountHistogram(const FrameStore& store);

/// The bin of one pixel: (d / (r / 300) + 0.5) rounded down, d and r as doubles, in that order.
/// Returns -1 for any bin outside 0 to 299 (those pixels are not counted).
int HistogramBin(double d, double bin_width);
