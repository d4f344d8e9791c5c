#pragma once
// The state that the image stages share within and across live cycles. One store lives for the
// whole run. The pixel block is allocated once at the design's full size, and grows only where
// large frames are taken and a frame needs more room; it never shrinks. The colour planes are as
// large as the frame that has them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct FrameStore {
  static constexpr int kSide = 1537;          // the design's frames: up to 1537 x 1537 pixels
  static constexpr int kLargeSide = 16384;    // --large-frames: up to 16384 pixels on a side
  static constexpr int64_t kLargePixels = 160'000'000;  // and up to 160 million pixels

  FrameStore() : FramePixels(static_cast<size_t>(kSide) * kSide, 0) {}

  std::string LiveFilePath;
  std::string ArchiveFilePath;

  /// Frames beyond 1537 x 1537 are read (--large-frames); otherwise they are refused.
  bool LargeFrames = false;
  int SideLimit() const { return LargeFrames ? kLargeSide : kSide; }

  std::array<std::string, 501> HeaderCards{};  // card i at index i; index 0 unused
  int HeaderCardCount = 0;                     // cards up to and including END; 0 before a read

  /// Cells from one row to the next: the design's 1537, or a wider frame's width.
  int Stride = kSide;
  std::vector<int32_t> FramePixels;  // cell (x, y) at x + Stride * y
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
  /// after the red one in FramePixels, each laid out as it is, PlaneCells cells each; empty until
  /// the first such frame.
  int ColourPlaneCount = 0;  // 2 for a frame read with its colour planes, else 0
  std::vector<int32_t> ColourPlanes;
  size_t PlaneCells = 0;  // the cells of each of the two planes: Stride x the frame's height
  int32_t* Plane(int plane) {
    return plane == 0 ? FramePixels.data() : ColourPlanes.data() + static_cast<size_t>(plane - 1) * PlaneCells;
  }
  const int32_t* Plane(int plane) const {
    return plane == 0 ? FramePixels.data() : ColourPlanes.data() + static_cast<size_t>(plane - 1) * PlaneCells;
  }

  int32_t& Pixel(int x, int y) { return FramePixels[static_cast<size_t>(x) + static_cast<size_t>(Stride) * y]; }
  const int32_t& Pixel(int x, int y) const {
    return FramePixels[static_cast<size_t>(x) + static_cast<size_t>(Stride) * y];
  }

  /// Lays the store out for a `width` x `height` frame (sides within SideLimit()), with room for
  /// its colour planes where `planes`: rows of 1537 cells as designed, of `width` cells for a frame
  /// beyond the design's sides. An old block too small is let go before the new one is taken.
  /// False, with the design's block, where the memory cannot be had.
  bool MakeRoom(int width, int height, bool planes);
  /// Whether a `width` x `height` frame fits the store as it is laid out now.
  bool Holds(int width, int height) const {
    return width <= Stride && static_cast<size_t>(Stride) * static_cast<size_t>(height) <= FramePixels.size();
  }
};

/// The number of pixels along an axis that the stages walk: 0 for a value of 0 or below (a frame
/// without pixels), the value itself for a whole number from 1 to `limit`, nothing otherwise (a
/// fractional or oversized axis, which no stage may walk).
std::optional<int> WalkableAxis(double naxis, int limit = FrameStore::kSide);

/// Width and height that the display stages walk, 0 by 0 where the axes cannot be walked or the
/// store is not laid out for them (a header refused after a smaller frame was read).
struct FrameExtent {
  int width = 0;
  int height = 0;
};
FrameExtent WalkableExtent(const FrameStore& store);
