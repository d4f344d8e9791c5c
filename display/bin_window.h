#pragma once
// Sky frames put nearly every pixel into a few neighbouring histogram bins. Where those bins begin
// is found once; a pixel's bin among them then follows from comparisons with those values alone,
// eight pixels at a time in wide registers, with no division and no counter in memory per pixel.

#include <array>
#include <cstdint>

struct BinWindow {
  static constexpr int kMaxBins = 8;
  int bins = 0;  // 4 or 8 bins that hold whole values, one after the other (between them, bins too
                 // narrow to hold any)
  // Bin bin_of[k] holds the values from starts[k] up to starts[k + 1] - 1.
  std::array<int32_t, kMaxBins + 1> starts{};
  std::array<int, kMaxBins> bin_of{};
  /// The window spans at most 32767 values and every pixel lies within 2^31 of its start: pixels
  /// are compared as 16-bit differences from the start, sixteen at a time.
  bool narrow = false;
};

/// True on processors with the wide comparisons.
bool CanCountInWindow();

/// Adds to below[k] the number of the row's pixels below starts[k], for k from 0 to bins.
/// Writes the positions of the pixels that the window does not count (below starts[0], from
/// starts[bins] on, and the last width % 8, or width % 16 for a narrow window) to `uncounted`, in
/// no particular order, and returns how many there are.
int CountRowInWindow(const int32_t* row, int width, const BinWindow& window,
                     std::array<int64_t, BinWindow::kMaxBins + 1>& below, uint16_t* uncounted);
