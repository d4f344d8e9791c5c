// SPDX-License-Identifier: GPL-3.0-or-later
// The picture as an observer may choose it: the whole frame scaled, in colour from a mosaic, with
// the frame's own data lettered on it.

#include <cmath>
#include <random>
#include <set>

#include <QColor>

#include <gtest/gtest.h>

#include "display/colour_path.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/overlay_text.h"
#include "display/picture_painter.h"
#include "fits/fits_reader.h"
#include "tests/support/fits_builder.h"
#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace {

class PictureChoicesTest : public ::testing::Test {
 protected:
  void Read(const FitsBuilder& file) {
    file.Write(dir_.File("live.fts"));
    store_.LiveFilePath = dir_.File("live.fts");
    ASSERT_EQ(reader_.ReadLiveFrame(store_, sink_).status, ReadStatus::kOk);
    store_.RangeFactor = 10;
    store_.BackgroundFactor = 1.5;
  }
  void Paint(const PictureChoices& choices) {
    painter_.SetChoices(choices);
    painter_.ComputeRange(store_);
    painter_.Render(store_, picture_);
  }
  QRgb At(int x, int y) const { return picture_.Image().pixel(x, y); }

  TempDir dir_;
  static inline FrameStore store_;
  FrameReader reader_;
  RecordingSink sink_;
  PicturePainter painter_;
  PictureSurface picture_;
};

// A 1537 x 1537 sky, a gradient under noise, with a one-pixel star in each corner.
std::vector<int64_t> CornerStars(int side) {
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0, 8);
  std::vector<int64_t> sky(static_cast<size_t>(side) * side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) sky[static_cast<size_t>(y) * side + x] = 1000 + x / 40 + std::lround(noise(random));
  for (const auto& [x, y] : {std::pair{3, 3}, {side - 4, 3}, {3, side - 4}, {side - 4, side - 4}})
    sky[static_cast<size_t>(y) * side + x] = 60000;
  return sky;
}

TEST_F(PictureChoicesTest, WholeFrameSizesShowEveryCornerStarAndKeepTheLetteringInPlace) {
  const int side = 1537;
  Read(FitsBuilder::Frame(16, side, side, {ValueCard("BZERO", "32768")}).Samples(
      [&] {
        std::vector<int64_t> stored = CornerStars(side);
        for (int64_t& value : stored) value -= 32768;
        return stored;
      }(),
      2));
  const struct {
    const char* size;
    int width, height;
  } cases[] = {{"fit", 316, 316}, {"frame", 1537, 1537}, {"1024x768", 768, 768}};
  for (const auto& c : cases) {
    Paint({*PictureSize::Parse(c.size)});
    ASSERT_EQ(picture_.width(), c.width) << c.size;
    ASSERT_EQ(picture_.height(), c.height) << c.size;
    const int background = qGray(At(c.width / 2, c.height / 2));
    // Each star's box is brighter than the sky around it, however much the scale dims it.
    const int near = 3 * c.width / side, far = c.width - 1 - near;
    for (const auto& [x, y] : {std::pair{near, near}, {far, near}, {near, far}, {far, far}})
      EXPECT_GT(qGray(At(x, y)), background + 10) << c.size << " star at " << x << "," << y;
    // The caption at the user scale's (5, 5): near the top-left corner at every size, and as
    // tall in proportion to the picture.
    LetterPicture(picture_, QStringLiteral("Kiso"), QStringLiteral("12-07-2026 21:05:09"));
    int top = c.height, bottom = -1, left = c.width;
    for (int y = 0; y < c.height / 4; ++y)
      for (int x = 0; x < c.width / 3; ++x)
        if (At(x, y) == qRgb(255, 0, 0)) {
          top = std::min(top, y);
          bottom = std::max(bottom, y);
          left = std::min(left, x);
        }
    ASSERT_GE(bottom, 0) << c.size;
    EXPECT_NEAR(left, 5.0 * c.width / 640, 2 + c.width / 200.0) << c.size;
    EXPECT_NEAR(bottom - top, 20.0 * c.height / 316, 3 + c.height / 60.0) << c.size << ": the caption's height";
  }
}

TEST_F(PictureChoicesTest, AFrameOfThePicturesOwnSizeGivesTheDesignsGreysExactly) {
  std::vector<int64_t> sky(423 * 316);
  std::mt19937 random(5);
  for (int64_t& value : sky) value = 900 + static_cast<int64_t>(random() % 400);
  Read(FitsBuilder::Frame(16, 423, 316).Samples(sky, 2));
  const FrameStore before = store_;
  Paint({*PictureSize::Parse("fit")});
  const QImage scaled = picture_.Image().copy();
  store_ = before;
  ComputeDisplayRange(store_);
  RenderFrame(store_, picture_);
  EXPECT_TRUE(scaled == picture_.Image());
}

// A 3096 x 2080 frame, as a common all-sky camera makes, with no picture size chosen: drawn whole
// within the design's 423 x 316, each grey the design's formula on the mean of its box of pixels.
TEST_F(PictureChoicesTest, ALargeFrameIsDrawnWholeWithTheDesignsGreysOfItsBoxMeans) {
  const int width = 3096, height = 2080;
  std::vector<int64_t> sky(static_cast<size_t>(width) * height);
  std::mt19937 random(7);
  for (int64_t& value : sky) value = 900 + static_cast<int64_t>(random() % 400) + (random() % 50 == 0 ? 3000 : 0);
  store_.LargeFrames = true;
  Read(FitsBuilder::Frame(16, width, height).Samples(sky, 2));
  store_.RangeFactor = store_.BackgroundFactor = 1;  // the box means spread over the greys
  Paint({});
  store_.LargeFrames = false;
  ASSERT_EQ(picture_.width(), 423);
  ASSERT_EQ(picture_.height(), 284);
  // Box i of n along L pixels: [i * L / n, (i + 1) * L / n); its mean rounded, halves up.
  const auto start = [](int i, int length, int parts) { return static_cast<int>(int64_t{i} * length / parts); };
  int differing = 0;
  std::set<int> greys;
  for (int py = 0; py < 284; ++py)
    for (int px = 0; px < 423; ++px) {
      int64_t sum = 0, count = 0;
      for (int y = start(py, height, 284); y < start(py + 1, height, 284); ++y)
        for (int x = start(px, width, 423); x < start(px + 1, width, 423); ++x, ++count)
          sum += sky[static_cast<size_t>(y) * width + x];
      const double mean = std::floor(static_cast<double>(sum) / count + 0.5);
      const double grey = std::floor((mean - store_.DisplayLow) / store_.DisplaySpan * 256 + 0.5);
      differing += qGray(At(px, py)) != static_cast<int>(std::clamp(grey, 0.0, 255.0));
      greys.insert(qGray(At(px, py)));
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(greys.size(), 50u);
}

// A grey sky with a red, a green and a blue star (each 4 x 4 pixels of the mosaic), stored in
// each of the four patterns and both row orders: the stars in their colours, the sky neutral.
TEST_F(PictureChoicesTest, MosaicsOfEveryPatternAndRowOrderComeOutInTheirColours) {
  const int width = 64, height = 48;
  const std::array<std::array<int, 3>, 3> stars = {{{10, 10, 0}, {30, 20, 1}, {50, 36, 2}}};  // x, y, colour
  for (const std::string pattern : {"RGGB", "BGGR", "GRBG", "GBRG"})
    for (const bool bottom_up : {false, true}) {
      // The colour of image pixel (x, r) seen top-down is pattern[2 (r % 2) + x % 2].
      std::vector<int64_t> stored(static_cast<size_t>(width) * height);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const int image_row = bottom_up ? height - 1 - y : y;
          const char site = pattern[static_cast<size_t>(2 * (image_row % 2) + x % 2)];
          const int colour = site == 'R' ? 0 : site == 'G' ? 1 : 2;
          // An unbalanced sky, with some noise.
          int64_t value = 1000 + (colour == 0 ? 300 : colour == 2 ? 150 : 0) + (x * 7 + y * 13) % 121 - 60;
          for (const auto& star : stars)
            if (std::abs(x - star[0]) <= 2 && std::abs(y - star[1]) <= 2 && colour == star[2]) value += 800;
          stored[static_cast<size_t>(y) * width + x] = value;
        }
      std::vector<std::string> cards = {RawCard("BAYERPAT= '" + pattern + "'")};
      if (bottom_up) cards.push_back(RawCard("ROWORDER= 'BOTTOM-UP'"));
      Read(FitsBuilder::Frame(16, width, height, cards).Samples(stored, 2));
      store_.BackgroundFactor = 1;
      // The design's window onto the frame's corner shows the very pixels of the whole frame.
      Paint({PictureSize{}, true});
      const QImage window = picture_.Image().copy(0, 0, width, height);
      store_.RangeFactor = 10;
      Paint({*PictureSize::Parse("frame"), true});
      EXPECT_TRUE(window == picture_.Image()) << pattern;
      const std::string name = pattern + (bottom_up ? " bottom-up" : "");
      // Scaled to half, each picture pixel bins a 2 x 2 box: the stars keep their colours.
      Paint({*PictureSize::Parse("32x24"), true});
      for (const auto& star : stars) {
        const QColor binned(At(star[0] / 2, star[1] / 2));
        const std::array<int, 3> rgb = {binned.red(), binned.green(), binned.blue()};
        for (int c = 0; c < 3; ++c) {
          if (c != star[2]) {
            EXPECT_GT(rgb[static_cast<size_t>(star[2])], rgb[static_cast<size_t>(c)] + 40) << pattern << " binned";
          }
        }
      }
      Paint({*PictureSize::Parse("frame"), true});
      for (const auto& star : stars) {
        const QColor seen(At(star[0], star[1]));
        const std::array<int, 3> rgb = {seen.red(), seen.green(), seen.blue()};
        for (int c = 0; c < 3; ++c)
          if (c != star[2]) {
            EXPECT_GT(rgb[static_cast<size_t>(star[2])], rgb[static_cast<size_t>(c)] + 60) << name;
          }
      }
      // The sky: neutral, and as bright on the sites of one colour as on those of another (a
      // checkerboard would make the pixels of one parity brighter).
      std::array<std::array<double, 3>, 2> sums{};
      for (int y = 38; y < 46; ++y)
        for (int x = 16; x < 28; ++x) {
          const QColor sky(At(x, y));
          const size_t parity = static_cast<size_t>((x + y) & 1);
          sums[parity][0] += sky.red();
          sums[parity][1] += sky.green();
          sums[parity][2] += sky.blue();
        }
      for (size_t c = 0; c < 3; ++c) {
        EXPECT_NEAR(sums[0][c] + sums[1][c], sums[0][1] + sums[1][1], 96 * 4.0) << name << " colour " << c;
        EXPECT_NEAR(sums[0][c], sums[1][c], 48 * 4.0) << name << " colour " << c;
      }
    }
}

// Red, green and blue planes (NAXIS3 = 3): the same stars in their colours on a neutral sky.
TEST_F(PictureChoicesTest, ThreeColourPlanesComeOutInTheirColours) {
  const int width = 64, height = 48;
  std::vector<int64_t> samples;
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        int64_t value = 1000 + plane * 100 + (x * 7 + y * 13 + plane * 5) % 121 - 60;
        if (std::abs(x - 10 - 20 * plane) <= 2 && std::abs(y - 10) <= 2) value += 800;
        samples.push_back(value);
      }
  FitsBuilder cube = FitsBuilder::Frame(16, width, height, {ValueCard("NAXIS3", "3")}).Samples(samples, 2);
  cube.cards[2] = ValueCard("NAXIS", "3");
  reader_.set_colour_planes(true);
  Read(cube);
  store_.BackgroundFactor = 1;
  Paint({*PictureSize::Parse("frame"), true});
  for (int plane = 0; plane < 3; ++plane) {
    const QColor star(At(10 + 20 * plane, 10));
    const std::array<int, 3> rgb = {star.red(), star.green(), star.blue()};
    for (int c = 0; c < 3; ++c) {
      if (c != plane) {
        EXPECT_GT(rgb[static_cast<size_t>(plane)], rgb[static_cast<size_t>(c)] + 60) << "plane " << plane;
      }
    }
  }
  const QColor sky(At(40, 40));
  EXPECT_LE(std::abs(sky.red() - sky.green()) + std::abs(sky.blue() - sky.green()), 30);
  // Colours whose medians lie a billion apart (a 32-bit cube, red dark but for a saturated patch):
  // the automatic gains stay within a user's bounds, and the picture is drawn without overflow.
  std::vector<int64_t> extreme;
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) extreme.push_back(plane == 1 || (plane == 0 && x < 4 && y < 4) ? 2147483000 : 1);
  FitsBuilder wide = FitsBuilder::Frame(32, width, height, {ValueCard("NAXIS3", "3")}).Samples(extreme, 4);
  wide.cards[2] = ValueCard("NAXIS", "3");
  Read(wide);
  Paint({*PictureSize::Parse("frame"), true});
  EXPECT_EQ(QColor(At(1, 1)).red(), 255);
}

// A sky whose colours carry noise of their own, as real cameras' do, with a bright block in one
// quarter: the luminance averages the noise down, so its sky crowds into the histogram's first
// bins, and the colour picture still shows the sky grey and the block bright, whether the colours
// come as planes or as a mosaic.
TEST_F(PictureChoicesTest, ColoursWithIndependentNoiseShowTheirSkyNeitherBlackNorWhite) {
  const int side = 256;
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 30);
  const std::array<double, 3> level = {1.2, 1.0, 0.8};
  const auto sample = [&](int colour, int x, int y) -> int64_t {
    if (x >= 20 && x < 40 && y >= 20 && y < 40) return 60000;
    return std::lround(1000 * level[static_cast<size_t>(colour)] + noise(random));
  };
  std::vector<int64_t> planes, mosaic;
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) planes.push_back(sample(plane, x, y));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) mosaic.push_back(sample(y % 2 == 0 ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2), x, y));
  FitsBuilder cube = FitsBuilder::Frame(16, side, side, {ValueCard("NAXIS3", "3")}).Samples(planes, 2);
  cube.cards[2] = ValueCard("NAXIS", "3");
  const FitsBuilder raw = FitsBuilder::Frame(16, side, side, {ValueCard("BAYERPAT", "'RGGB'")}).Samples(mosaic, 2);
  reader_.set_colour_planes(true);
  for (const FitsBuilder* frame : {static_cast<const FitsBuilder*>(&cube), &raw}) {
    SCOPED_TRACE(frame == &cube ? "planes" : "mosaic");
    // A range left by a frame before (here: a band far above this sky) must not decide this one.
    store_.DisplayLow = 50000;
    store_.DisplaySpan = 10;
    Read(*frame);
    store_.BackgroundFactor = 1;
    Paint({*PictureSize::Parse("frame"), true});
    int64_t sky = 0;
    for (int y = 128; y < 256; ++y)
      for (int x = 128; x < 256; ++x) sky += qGray(At(x, y));
    sky /= 128 * 128;
    EXPECT_GT(sky, 10);
    EXPECT_LT(sky, 245);
    EXPECT_EQ(qGray(At(30, 30)), 255);
  }
}

// The demosaic's wide loop (sums in 32-bit lanes, products in 64) against the plain one in 64-bit
// integers, on values at both ends of the wide loop's bound, with gains above and below one, from
// both column parities and with ragged ends.
TEST(BilinearDemosaic, WideAndPlainLoopsGiveTheSameMeans) {
  const int width = 67, stride = 80;
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> value(-(1 << 26), 1 << 26);
  std::vector<int32_t> rows(3 * stride);
  for (int32_t& v : rows) v = value(random);
  rows[stride + 9] = 1 << 26;
  rows[stride + 10] = -(1 << 26);
  const std::array<int64_t, 3> gains = {196608, 16384, 70001};  // 3, 1/4 and about 1.07 over four
  for (const char* pattern : {"RGGB", "GBRG"}) {
    MosaicLayout layout;
    for (size_t i = 0; i < 4; ++i) layout.colour[i / 2][i % 2] = static_cast<uint8_t>(std::string("RGB").find(pattern[i]));
    const TapPlan plan = PlanTaps(layout);
    for (int parity = 0; parity < 2; ++parity)
      for (const int first : {1, 2})
        for (const int end : {width - 1, width - 4}) {
          std::array<std::vector<int32_t>, 3> wide, plain;
          for (size_t c = 0; c < 3; ++c) wide[c].assign(width, 0), plain[c].assign(width, 0);
          const int32_t* row = rows.data() + stride;
          DemosaicRow(row, stride, first, end, plan[static_cast<size_t>(parity)], gains, 1 << 26,
                      {wide[0].data(), wide[1].data(), wide[2].data()});
          // A bound beyond 28 bits leaves the wide loop out.
          DemosaicRow(row, stride, first, end, plan[static_cast<size_t>(parity)], gains, int64_t{1} << 32,
                      {plain[0].data(), plain[1].data(), plain[2].data()});
          EXPECT_EQ(wide, plain) << pattern << " " << parity << " " << first << " " << end;
          EXPECT_EQ(plain[static_cast<size_t>(layout.Of(4, parity))][4],
                    ScaledTapSum(4 * int64_t{row[4]}, gains[static_cast<size_t>(layout.Of(4, parity))]));
        }
  }
}

TEST(OverlayText, HeaderValuesRealAndHostile) {
  FrameStore store;
  const std::vector<std::string> cards = {
      RawCard("EXPTIME =                 30.0 / seconds"), RawCard("CCD-TEMP=                -10.5"),
      RawCard("FILTER  = 'Ha      '"), RawCard("OBJECT  = 'M42\x01\x1b[2Jboom'"),
      RawCard("OBSERVER= '" + std::string(68, 'x')), RawCard("SITE    = 'K\xF6nigstuhl'"),
      RawCard("TELESCOP= '\xE2\x80\xAE" "evil'"),
      RawCard("END")};
  store.HeaderCardCount = static_cast<int>(cards.size());
  for (size_t i = 0; i < cards.size(); ++i) store.HeaderCards[i + 1] = cards[i];
  EXPECT_EQ(OverlayText("{EXPTIME} s  {CCD-TEMP} C  {FILTER} {GAIN}", store).toStdString(), "30.0 s  -10.5 C  Ha -");
  const QString hostile = OverlayText("{OBJECT} {OBSERVER} {unclosed", store);
  for (const QChar character : hostile) EXPECT_NE(character.category(), QChar::Other_Control);
  EXPECT_TRUE(hostile.startsWith(QStringLiteral("M42"))) << hostile.toStdString();
  EXPECT_TRUE(hostile.endsWith(QStringLiteral("{unclosed"))) << hostile.toStdString();
  // A Latin-1 value garbles neither the observer's own UTF-8 text nor itself; a right-to-left
  // override in a value is blanked.
  EXPECT_EQ(OverlayText("\xE8\xA6\xB3\xE6\xB8\xAC {SITE} {TELESCOP}", store), QStringLiteral(u"観測 Königstuhl  evil"));
  const std::string braces(1 << 20, '{');
  EXPECT_EQ(OverlayText(braces, store).size(), braces.size()) << "an unmatched { costs a step, not a walk to the end";
  PictureSurface picture;
  LetterPicture(picture, QStringLiteral("Kiso"), QStringLiteral("stamp"), QString(), hostile);
}

}  // namespace
