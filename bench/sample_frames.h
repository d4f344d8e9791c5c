#pragma once
// Synthetic frames for the benchmarks: a realistic 16-bit sky (background, noise, stars).

#include <cstdint>
#include <string>
#include <vector>

/// Sky values, row after row, `width` x `height`, reproducible for a given seed.
std::vector<uint16_t> SkyFrame(int width, int height, unsigned seed = 1);

/// The sample formats that capture programs write.
enum class SampleFormat { k8, k16, k16Unsigned, k32, k32Unsigned, kFloat };
inline constexpr SampleFormat kAllFormats[] = {SampleFormat::k8, SampleFormat::k16, SampleFormat::k16Unsigned,
                                               SampleFormat::k32, SampleFormat::k32Unsigned, SampleFormat::kFloat};
/// "8", "16", "16u" (BZERO 32768), "32", "32u" (BZERO 2147483648), "-32".
const char* FormatName(SampleFormat format);

/// Writes a FITS file with BITPIX `bitpix` (8, 16 or 32) holding the sky frame scaled to the
/// sample width; returns the path.
std::string WriteSkyFits(const std::string& path, int width, int height, int bitpix);
/// The same sky in any of the formats (unsigned ones as signed samples with a BZERO offset).
std::string WriteSkyFits(const std::string& path, int width, int height, SampleFormat format);
