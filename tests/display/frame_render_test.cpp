#include "display/frame_render.h"

#include <algorithm>
#include <climits>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/filled_frame.h"

#include "display/display_range.h"
#include "display/pixel_formulas.h"

namespace {

uint32_t Grey(int g) { return 0xFF000000u | (static_cast<uint32_t>(g) * 0x010101u); }
uint32_t Face() { return ToArgb(PictureSurface::kFaceColour); }

class FrameRenderTest : public ::testing::Test {
 protected:
  void Frame(int width, int height, int32_t fill) { FillFrame(store_, width, height, fill); }
  uint32_t At(int x, int y) { return picture_.Image().pixel(x, y); }
  static inline FrameStore store_;
  PictureSurface picture_;
};

TEST_F(FrameRenderTest, DefaultCoefficientsOnTheWorkedRange) {
  Frame(5, 1, 0);
  const int32_t values[] = {250, 279, 280, 220, 150};
  for (int x = 0; x < 5; ++x) store_.Pixel(x, 0) = values[x];
  store_.DisplayLow = 147;
  store_.DisplaySpan = 6;
  store_.RangeFactor = 10;
  store_.BackgroundFactor = 1.5;
  RenderFrame(store_, picture_);
  EXPECT_EQ(store_.DisplaySpan, 60);
  EXPECT_EQ(store_.DisplayLow, 220);  // 220.5 goes to the even neighbour
  EXPECT_EQ(At(0, 0), Grey(128));
  EXPECT_EQ(At(1, 0), Grey(252));
  EXPECT_EQ(At(2, 0), Grey(255));
  EXPECT_EQ(At(3, 0), Grey(0));
  EXPECT_EQ(At(4, 0), Grey(0));
  EXPECT_EQ(At(5, 0), Face()) << "outside a small frame the cleared surface shows";
  EXPECT_EQ(At(0, 1), Face());

  store_.DisplayLow = 149;
  store_.DisplaySpan = 6;
  RenderFrame(store_, picture_);
  EXPECT_EQ(store_.DisplayLow, 224);
}

TEST_F(FrameRenderTest, CoefficientGuards) {
  Frame(3, 1, 0);
  store_.Pixel(0, 0) = 10;
  store_.Pixel(1, 0) = 11;
  store_.Pixel(2, 0) = 9;
  // A "Range" of 0 (a text that is no number): span 1, above the low edge white, else black.
  store_.DisplayLow = 10;
  store_.DisplaySpan = 50;
  store_.RangeFactor = 0;
  store_.BackgroundFactor = 1;
  RenderFrame(store_, picture_);
  EXPECT_EQ(store_.DisplaySpan, 1);
  EXPECT_EQ(At(0, 0), Grey(0));
  EXPECT_EQ(At(1, 0), Grey(255));
  EXPECT_EQ(At(2, 0), Grey(0));

  // Huge coefficients saturate instead of overflowing; negative ones give span 1.
  store_.RangeFactor = 1e300;
  store_.BackgroundFactor = -1e300;
  RenderFrame(store_, picture_);
  EXPECT_EQ(store_.DisplaySpan, 2147483647);
  EXPECT_EQ(store_.DisplayLow, -2147483647 - 1);
  store_.RangeFactor = -3;
  RenderFrame(store_, picture_);
  EXPECT_EQ(store_.DisplaySpan, 1);
}

TEST_F(FrameRenderTest, RepeatedRescalingWithoutAQualifyingBinSaturates) {
  Frame(4, 4, 7);  // equal extremes: the range computation keeps the range every cycle
  store_.PixelMin = store_.PixelMax = 7;
  store_.DisplayLow = 3;
  store_.DisplaySpan = 2;
  store_.RangeFactor = 10;
  store_.BackgroundFactor = 1.5;
  int32_t previous = 0;
  for (int cycle = 0; cycle < 20; ++cycle) {
    ComputeDisplayRange(store_);
    RenderFrame(store_, picture_);
    EXPECT_GE(store_.DisplaySpan, previous);
    previous = store_.DisplaySpan;
  }
  EXPECT_EQ(store_.DisplaySpan, 2147483647);
  EXPECT_EQ(At(0, 0), Grey(0));
}

// Every pixel's grey is the formula's, whatever band and values: random bands from one unit to
// the whole 32-bit range, values spread around them and at the ends of the range, and bands of a
// multiple of 512 units, where many values fall exactly half way between two greys.
TEST_F(FrameRenderTest, EveryGreyIsTheFormulasOnRandomBands) {
  std::mt19937_64 random(11);
  store_.RangeFactor = 1;
  store_.BackgroundFactor = 1;
  for (int trial = 0; trial < 68; ++trial) {
    const int32_t low = static_cast<int32_t>(random());
    const int32_t span = trial < 60 ? std::max<int32_t>(1, static_cast<int32_t>(random() >> (33 + trial % 31)))
                                    : 512 << (trial % 8);
    Frame(423, 316, 0);
    for (int y = 0; y < 316; ++y)
      for (int x = 0; x < 423; ++x) {
        const int64_t near = int64_t{low} + static_cast<int64_t>(random() % (3 * uint64_t(span) + 3)) - span;
        const int64_t value = (x + y) % 97 == 0 ? static_cast<int32_t>(random()) : near;
        store_.Pixel(x, y) = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
      }
    store_.DisplayLow = low;
    store_.DisplaySpan = span;
    RenderFrame(store_, picture_);
    for (int y = 0; y < 316; ++y)
      for (int x = 0; x < 423; ++x)
        ASSERT_EQ(At(x, y), Grey(GreyLevel(store_.Pixel(x, y), low, span))) << trial << " " << x << "," << y;
    // The colour picture's greys, three rows as red, green and blue: each the formula's.
    std::vector<uint32_t> colour(423);
    for (int y = 0; y + 2 < 316; y += 3) {
      ColourPixels({&store_.Pixel(0, y), &store_.Pixel(0, y + 1), &store_.Pixel(0, y + 2)}, 423, low, span, colour.data());
      for (int x = 0; x < 423; ++x)
        ASSERT_EQ(colour[static_cast<size_t>(x)], 0xFF000000u | GreyLevel(store_.Pixel(x, y), low, span) << 16 |
                                                      GreyLevel(store_.Pixel(x, y + 1), low, span) << 8 |
                                                      GreyLevel(store_.Pixel(x, y + 2), low, span))
            << trial << " " << x << "," << y;
    }
  }
}

TEST_F(FrameRenderTest, ExtremePixelsAndFrameSizes) {
  Frame(1537, 1537, 2147483647);
  store_.Pixel(0, 0) = -2147483647 - 1;
  store_.DisplayLow = 2147483647;
  store_.DisplaySpan = 1;
  store_.RangeFactor = 1;
  store_.BackgroundFactor = 1;
  RenderFrame(store_, picture_);
  EXPECT_EQ(At(0, 0), Grey(0));
  EXPECT_EQ(At(422, 315), Grey(0)) << "equal to the low edge";
  store_.DisplayLow = -2147483647 - 1;
  RenderFrame(store_, picture_);
  EXPECT_EQ(At(422, 315), Grey(255));

  for (double naxis : {-1.0, 0.0}) {
    store_.Naxis1 = naxis;
    RenderFrame(store_, picture_);
    EXPECT_EQ(At(0, 0), Face());
  }
}

}  // namespace
