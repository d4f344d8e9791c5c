// SPDX-License-Identifier: GPL-3.0-or-later
// The frame's corrections, which need no star extraction: they run on every system.
#include <gtest/gtest.h>

#include <limits>

#include "sky/sky_analyser.h"
#include "tests/sky/sky_frames.h"
#include "tests/support/fits_builder.h"
#include "tests/support/temp_dir.h"

namespace {

// The dark goes from the frame, scaled by the exposures; the frame comes back exactly, even where
// the subtraction had to clamp at the ends of 32-bit samples.
TEST(SkyAnalyser, SubtractsTheScaledDarkAndGivesTheRawFrameBack) {
  TempDir dir;
  std::vector<int64_t> dark(200 * 200, 100);
  dark[0] = 5000;
  FitsBuilder::Frame(16, 200, 200, {ValueCard("EXPTIME", "10.0")}).Samples(dark, 2).Write(dir.File("dark.fits"));
  SkySettings settings;
  settings.dark_path = dir.File("dark.fits");
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  StarFieldOptions options;
  options.width = options.height = 200;
  options.stars = 20;
  StarFieldTruth truth;
  FrameStore store;
  PutFrame(store, MakeStarField(options, truth), 200, 200, "30.0");
  store.Pixel(1, 0) = std::numeric_limits<int32_t>::min() + 10;
  const std::vector<int32_t> raw = Cells(store, 200, 200);
  EXPECT_TRUE(analyser.Prepare(store).empty());
  EXPECT_EQ(store.Pixel(5, 5), raw[5 + 200 * 5] - 300) << "three times the dark's exposure";
  EXPECT_EQ(store.Pixel(0, 0), raw[0] - 15000);
  analyser.Restore(store);
  EXPECT_EQ(Cells(store, 200, 200), raw);

  PutFrame(store, MakeStarField(options, truth), 100, 100);
  const std::vector<std::string> notes = analyser.Prepare(store);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "Sky NG:dark not subtracted: the dark is 200 x 200, the frame 100 x 100");
}

// --hot-pixels remove without --sky: the hot pixels are learned all the same (no star extraction
// needed) and drawn as their neighbours from the ninth frame on.
TEST(SkyAnalyser, RemovesHotPixelsWithoutTheSkysAnalysis) {
  StarFieldOptions options;
  options.width = options.height = 400;
  options.stars = 100;
  options.drift = 3;
  SkySettings settings;
  settings.remove_hot_pixels = true;
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  FrameStore store;
  StarFieldTruth truth;
  for (unsigned frame = 0; frame < 10; ++frame) {
    options.frame = frame;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height);
    analyser.Prepare(store);
    analyser.LearnHotPixels(store, frame + 1);
    analyser.Restore(store);
  }
  analyser.Prepare(store);
  for (const uint32_t hot : truth.hot)
    EXPECT_LT(store.Pixel(static_cast<int>(hot % 400), static_cast<int>(hot / 400)), 2500) << hot;  // 3000 and more above the sky before
  analyser.Restore(store);

  // A frame of another size: the map names other pixels, and none of them is touched.
  options.width = options.height = 300;
  PutFrame(store, MakeStarField(options, truth), 300, 300);
  const std::vector<int32_t> raw = Cells(store, 300, 300);
  analyser.Prepare(store);
  EXPECT_EQ(Cells(store, 300, 300), raw);
}

}  // namespace
