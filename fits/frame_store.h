#pragma once
// The state that the image stages share within and across live cycles. One store lives for the
// whole run; the pixel block is allocated once at full size and never again.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct FrameStore {
  static constexpr int kSide = 1537;  // frames up to 1537 x 1537 pixels

  FrameStore() : FramePixels(static_cast<size_t>(kSide) * kSide, 0) {}

  std::string LiveFilePath;
  std::string ArchiveFilePath;

  std::array<std::string, 501> HeaderCards{};  // card i at index i; index 0 unused
  int HeaderCardCount = 0;                     // cards up to and including END; 0 before a read

  std::vector<int32_t> FramePixels;  // cell (x, y) at x + kSide * y
  int32_t PixelMax = 0;
  int32_t PixelMin = 0;

  double BitPix = -1;  // magnitude of the BITPIX value
  double Naxis1 = -1;
  double Naxis2 = -1;
  double BZero = 0;
  double BScale = 1;

  int32_t DisplayLow = 0;
  int32_t DisplaySpan = 0;

  double RangeFactor = 0;
  double BackgroundFactor = 0;

  /// A three-plane frame's green and blue planes (NAXIS3 = 3, read where the reader is asked to),
  /// after the red one in FramePixels, each laid out as it is; empty until the first such frame.
  int ColourPlaneCount = 0;  // 2 for a frame read with its colour planes, else 0
  std::vector<int32_t> ColourPlanes;
  int32_t* Plane(int plane) {
    return plane == 0 ? FramePixels.data() : ColourPlanes.data() + static_cast<size_t>(plane - 1) * kSide * kSide;
  }
  const int32_t* Plane(int plane) const {
    return plane == 0 ? FramePixels.data() : ColourPlanes.data() + static_cast<size_t>(plane - 1) * kSide * kSide;
  }

  int32_t& Pixel(int x, int y) { return FramePixels[static_cast<size_t>(x) + kSide * static_cast<size_t>(y)]; }
  const int32_t& Pixel(int x, int y) const { return FramePixels[static_cast<size_t>(x) + kSide * static_cast<size_t>(y)]; }
};

/// The number of pixels along an axis that the stages walk: 0 for a value of 0 or below (a frame
/// without pixels), the value itself for a whole number from 1 to 1537, nothing otherwise (a
/// fractional or oversized axis, which no stage may walk).
std::optional<int> WalkableAxis(double naxis);

/// Width and height that the display stages walk, 0 by 0 where the axes cannot be walked.
struct FrameExtent {
  int width = 0;
  int height = 0;
};
FrameExtent WalkableExtent(const FrameStore& store);
