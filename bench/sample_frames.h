#pragma once
// Synthetic frames for the benchmarks: a realistic 16-bit sky (background, noise, stars).

#include <cstdint>
#include <string>
#include <vector>

/// Sky values, row after row, `width` x `height`, reproducible for a given seed.
std::vector<uint16_t> SkyFrame(int width, int height, unsigned seed = 1);

/// Writes a FITS file with BITPIX `bitpix` (8, 16 or 32) holding the sky frame scaled to the
/// sample width; returns the path.
std::string WriteSkyFits(const std::string& path, int width, int height, int bitpix);
