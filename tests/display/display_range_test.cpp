#include "display/display_range.h"

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/filled_frame.h"

namespace {

// A literal transcription of the histogram rule, column outer and row inner, two divisions per
// pixel. The production code must give the same counts for every frame.
std::array<int64_t, 301> ReferenceHistogram(const FrameStore& s) {
  std::array<int64_t, 301> counts{};
  const int64_t r = int64_t{s.PixelMax} - s.PixelMin;
  if (r <= 0) return counts;
  for (int x = 0; x <= s.Naxis1 - 1; ++x)
    for (int y = 0; y <= s.Naxis2 - 1; ++y) {
      const double d = static_cast<double>(int64_t{s.Pixel(x, y)} - s.PixelMin);
      const double w = static_cast<double>(r) / 300;
      const double q = d / w;
      const double bin = std::floor(q + 0.5);
      if (bin >= 0 && bin < 300) ++counts[static_cast<int>(bin)];
    }
  return counts;
}

class DisplayRangeTest : public ::testing::Test {
 protected:
  void Frame(int width, int height, int32_t fill) { FillFrame(store_, width, height, fill); }
  void Extremes() {  // as the reader computes them for an 8 or 32-bit frame
    store_.PixelMin = std::numeric_limits<int32_t>::max();
    store_.PixelMax = -1;
    for (int y = 0; y < store_.Naxis2; ++y)
      for (int x = 0; x < store_.Naxis1; ++x) {
        store_.PixelMin = std::min(store_.PixelMin, store_.Pixel(x, y));
        store_.PixelMax = std::max(store_.PixelMax, store_.Pixel(x, y));
      }
  }
  static inline FrameStore store_;
};

// A peak that falls off gradually, so that where the walks stop depends on the threshold: counts
// 1000 at 150 and 1000 x 0.6^k (truncated) at 150 +- k, one pixel each at 0 and 300 (bin width 1).
// Smoothed: 281.37 at the peak, so a tenth is 28.14; bins 143 and 157 (19.11) are the first below
// it, while bins 145 and 155 (53.53) would already be below a fifth.
TEST_F(DisplayRangeTest, GradedPeakStopsAtATenthOfItsSmoothedHeight) {
  std::vector<int32_t> values = {0, 300};
  // 1000 x 0.6^k, rounded down as glibc's pow has it (another library's 0.6^3 is not below 0.216).
  constexpr int kCounts[] = {1000, 600, 360, 215, 129, 77, 46, 27, 16, 10, 6, 3};
  for (int k = 0; k <= 11; ++k) {
    const int count = kCounts[k];
    for (int n = 0; n < count; ++n) {
      values.push_back(150 + k);
      if (k > 0) values.push_back(150 - k);
    }
  }
  ASSERT_EQ(values.size(), 3980u);
  Frame(398, 10, 0);
  for (size_t i = 0; i < values.size(); ++i) store_.Pixel(static_cast<int>(i % 398), static_cast<int>(i / 398)) = values[i];
  Extremes();
  ComputeDisplayRange(store_);
  EXPECT_EQ(store_.DisplayLow, 143);
  EXPECT_EQ(store_.DisplaySpan, 157 - 143);
}

TEST_F(DisplayRangeTest, WorkedExamples) {
  Frame(10, 10, 150);
  store_.Pixel(0, 0) = 0;
  store_.Pixel(9, 9) = 300;
  Extremes();
  ComputeDisplayRange(store_);
  EXPECT_EQ(store_.DisplayLow, 147);
  EXPECT_EQ(store_.DisplaySpan, 6);
  EXPECT_EQ(CountHistogram(store_)[150], 98);
  EXPECT_EQ(CountHistogram(store_)[300], 0);

  // A small value range: both walks convert to 1, the span 0 is raised to 1.
  Frame(10, 10, 1);
  store_.Pixel(0, 0) = 0;
  store_.Pixel(9, 9) = 2;
  Extremes();
  ComputeDisplayRange(store_);
  EXPECT_EQ(store_.DisplayLow, 1);
  EXPECT_EQ(store_.DisplaySpan, 1);
}

TEST_F(DisplayRangeTest, NoQualifyingBinKeepsTheRange) {
  const auto keeps = [](const char* what) {
    store_.DisplayLow = 1234;
    store_.DisplaySpan = 0;
    ComputeDisplayRange(store_);
    EXPECT_EQ(store_.DisplayLow, 1234) << what;
    EXPECT_EQ(store_.DisplaySpan, 1) << what;
  };
  Frame(10, 10, 300);  // all at PixelMax but one at PixelMin: the peak is bin 0
  store_.Pixel(0, 0) = 0;
  Extremes();
  keeps("peak in bin 0");

  Frame(10, 10, 299);  // peak in bin 299 (value 299 of 0..300)
  store_.Pixel(0, 0) = 0;
  store_.Pixel(1, 0) = 300;
  Extremes();
  keeps("peak in bin 299");

  Frame(2, 2, 5);  // equal extremes: a zero bin width
  Extremes();
  keeps("PixelMax equal to PixelMin");

  store_.PixelMax = -1;  // a 16-bit frame all at 60000 or more
  store_.PixelMin = 60000;
  keeps("PixelMax below PixelMin");

  store_.PixelMax = -1;  // the store after a rejected header
  store_.PixelMin = std::numeric_limits<int32_t>::max();
  keeps("after a rejected header");

  Frame(10, 10, 150);
  store_.Pixel(0, 0) = 0;
  store_.Pixel(9, 9) = 300;
  Extremes();
  for (double naxis : {-1.0, 0.0}) {
    store_.Naxis1 = naxis;
    keeps("no pixels");
  }
}

TEST_F(DisplayRangeTest, PixelsAboveTheMaximumAreNotCounted) {
  // 16-bit frames: pixels of 60000 and more lie above PixelMax and are not counted.
  Frame(10, 10, 150);
  store_.Pixel(0, 0) = 0;
  store_.PixelMin = 0;
  store_.PixelMax = 300;
  for (int y = 1; y < 10; ++y) store_.Pixel(0, y) = 65000;
  EXPECT_EQ(CountHistogram(store_), ReferenceHistogram(store_));
  int64_t total = 0;
  for (int64_t c : CountHistogram(store_)) total += c;
  EXPECT_EQ(total, 100 - 9);
}

TEST_F(DisplayRangeTest, EqualHighestCountsPickTheLowerBin) {
  Frame(10, 10, 0);
  for (int i = 0; i < 40; ++i) store_.Pixel(i % 10, i / 10) = 100;
  for (int i = 40; i < 80; ++i) store_.Pixel(i % 10, i / 10) = 200;
  store_.Pixel(9, 9) = 300;
  Extremes();
  ComputeDisplayRange(store_);
  // Peak 100 (not 200): the band runs from bin 97 up to 103.
  EXPECT_EQ(store_.DisplayLow, 97);
  EXPECT_EQ(store_.DisplaySpan, 6);
}

TEST_F(DisplayRangeTest, WideAndOverflowingDifferencesDoNotFail) {
  Frame(3, 1, 0);
  store_.Pixel(0, 0) = std::numeric_limits<int32_t>::min();
  store_.Pixel(1, 0) = std::numeric_limits<int32_t>::max();
  store_.Pixel(2, 0) = 0;
  Extremes();
  EXPECT_EQ(CountHistogram(store_), ReferenceHistogram(store_));
  ComputeDisplayRange(store_);
  EXPECT_GE(store_.DisplaySpan, 1);
}

// The table lookup must agree with the two divisions for every pixel value that can occur: all
// values of every range up to 700 wide, then random sky-like and adversarial frames.
TEST_F(DisplayRangeTest, FastHistogramEqualsTheFormulaEverywhere) {
  for (int32_t low : {0, -5, 1000}) {
    for (int range = 1; range <= 700; ++range) {
      Frame(range + 3, 1, 0);
      for (int v = 0; v < range + 3; ++v) store_.Pixel(v, 0) = low - 1 + v;  // one below, one above
      store_.PixelMin = low;
      store_.PixelMax = low + range;
      ASSERT_EQ(CountHistogram(store_), ReferenceHistogram(store_)) << low << " " << range;
    }
  }
  // Every third trial spans up to the whole 32-bit range, with half its pixels right at the
  // edges between bins, where a shortcut would first go wrong. In every fourth the values lie on a
  // step of 2^k above the minimum, as a camera's values moved up by k bits do, but for a few. Every
  // tenth is a sky: nearly all pixels in a few neighbouring bins, anywhere from the first bin to
  // the last, and a few anywhere else.
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    // The last trials are large enough for the count to be shared between two threads.
    const bool large = trial >= 296, sky = trial % 10 == 7;
    const int width = large ? 600 : sky ? 250 + static_cast<int>(random() % 300) : 1 + static_cast<int>(random() % 300);
    const int height = large ? 500 : sky ? 270 : 1 + static_cast<int>(random() % 50);
    const int sky_bin = static_cast<int>(random() % 300);
    const bool wide = trial % 3 == 2;
    const int64_t range = wide ? 1 + static_cast<int64_t>(random() % 0xFFFFFFFFu)
                               : 1 + static_cast<int64_t>(random() % (trial % 20 == 7 ? 400 : trial % 3 ? 70000 : 5000000));
    const int64_t low = wide ? std::numeric_limits<int32_t>::min() + static_cast<int64_t>(random() % ((uint64_t{1} << 32) - range))
                             : static_cast<int64_t>(random() % 70000) - 1000;
    std::uniform_int_distribution<int64_t> value(wide ? low : low - 3, wide ? low + range : low + range + 3);
    std::uniform_int_distribution<int> bin(0, 300), near(-1, 1);
    Frame(width, height, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int64_t v = value(random);
        if (wide && random() % 2)
          v = std::clamp<int64_t>(low + static_cast<int64_t>((bin(random) - 0.5) * (static_cast<double>(range) / 300)) + near(random), low, low + range);
        if (trial % 4 == 1 && random() % 97 != 0) v = low + ((v - low) >> (1 + trial % 7) << (1 + trial % 7));
        if (sky && random() % 500 != 0)
          v = low + static_cast<int64_t>((sky_bin + (random() % 600) / 100.0 - 1.5) * (static_cast<double>(range) / 300)) + near(random);
        store_.Pixel(x, y) = static_cast<int32_t>(v);
      }
    store_.PixelMin = static_cast<int32_t>(low);
    store_.PixelMax = static_cast<int32_t>(low + range);
    ASSERT_EQ(CountHistogram(store_), ReferenceHistogram(store_)) << "trial " << trial;
  }
}

}  // namespace
