// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sky/clear_reference.h"
#include "sky/sky_analyser.h"
#include "sky/sky_brightness.h"
#include "tests/sky/sky_frames.h"

namespace {

// Sixteen frames with the stars drifting: the hot pixels are learned, drawn as their neighbours
// in the picture, never counted, and the frame goes back to the archive as the camera wrote it.
TEST(SkyAnalyser, LearnsHotPixelsRemovesThemForThePictureAndLeavesTheArchiveRaw) {
  StarFieldOptions options;
  options.width = options.height = 600;
  options.stars = 250;
  options.drift = 3;
  SkySettings settings;
  settings.enabled = true;
  settings.remove_hot_pixels = true;
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  FrameStore store;
  StarFieldTruth truth;
  for (unsigned frame = 0; frame < 12; ++frame) {
    options.frame = frame;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height);
    const std::vector<int32_t> raw = Cells(store, options.width, options.height);
    analyser.Prepare(store);
    if (frame == 11) {
      for (const uint32_t hot : truth.hot) {
        const int x = static_cast<int>(hot % 600), y = static_cast<int>(hot / 600);
        EXPECT_LT(store.Pixel(x, y), truth.sky_at_centre * 1.3 + 200) << "hot pixel " << x << "," << y << " drawn";
      }
    }
    const SkyReading& reading = analyser.Analyse(store, frame + 1, "2026-12-08");
    ASSERT_TRUE(reading.measured()) << reading.failure;
    analyser.Restore(store);
    ASSERT_EQ(Cells(store, options.width, options.height), raw) << "frame " << frame << " not restored";
  }
  EXPECT_EQ(analyser.last().hot_pixels, static_cast<int>(truth.hot.size())) << "every hot pixel learned, no star";
}

// Darkness in the frame's units, per second, and in mag/arcsec^2 within 0.05 of the truth.
TEST(SkyAnalyser, MeasuresTheDarknessAndTheSkyMagnitude) {
  StarFieldOptions options;
  StarFieldTruth truth;
  FrameStore store;
  PutFrame(store, MakeStarField(options, truth), options.width, options.height, "20.0");
  SkySettings settings;
  settings.enabled = true;
  settings.zero_point = 21.0;
  settings.pixel_scale = 150;
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  const SkyReading& reading = analyser.Analyse(store, 1, "2026-12-08");
  ASSERT_TRUE(reading.measured()) << reading.failure;
  EXPECT_NEAR(*reading.background, truth.sky_at_centre, 0.01 * truth.sky_at_centre);
  EXPECT_NEAR(*reading.background_per_s, truth.sky_at_centre / 20, 0.01 * truth.sky_at_centre / 20);
  const double true_sqm = 21.0 - 2.5 * std::log10(truth.sky_at_centre / (20 * 150.0 * 150.0));
  EXPECT_NEAR(*reading.sqm, true_sqm, 0.05);
  EXPECT_NEAR(*ZeroPointFor(true_sqm, truth.sky_at_centre, 20, 150), 21.0, 1e-9);
  EXPECT_FALSE(reading.clear) << "nothing is said of clear before 50 frames";
}

// Fifty clear frames teach each sector its reference; then a cloud bank over one sector makes it
// the one sector that is not clear, and a week of cloud does not make clouds clear.
TEST(SkyAnalyser, TellsTheCloudedSectorAfterLearningTheClearSky) {
  StarFieldOptions options;
  options.width = options.height = 500;
  options.stars = 700;
  options.hot_pixels = options.cosmic_rays = 0;
  SkySettings settings;
  settings.enabled = true;
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  FrameStore store;
  StarFieldTruth truth;
  for (unsigned frame = 0; frame < 50; ++frame) {
    options.frame = frame;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height);
    analyser.Analyse(store, frame + 1, "2026-12-07");
  }
  EXPECT_EQ(analyser.last().clear, 1.0);
  options.clouded_sectors = {11};
  for (unsigned frame = 50; frame < 60; ++frame) {
    options.frame = frame;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height);
    analyser.Analyse(store, frame + 1, "2026-12-08");
  }
  const SkyReading& clouded = analyser.last();
  ASSERT_TRUE(clouded.clear);
  EXPECT_DOUBLE_EQ(*clouded.clear, 15.0 / 16);
  for (int sector = 0; sector < kSkySectors; ++sector)
    EXPECT_EQ(clouded.sectors[static_cast<size_t>(sector)], sector != 11) << "sector " << sector;
}

// Frames the analysis cannot use give a reason and no numbers, never a crash or a number.
TEST(SkyAnalyser, RefusesFramesItCannotMeasureWithAReason) {
  StarFieldOptions options;
  options.width = options.height = 300;
  options.stars = 40;
  StarFieldTruth truth;
  const std::vector<uint16_t> sky = MakeStarField(options, truth);
  struct Case {
    const char* what;
    std::function<void(FrameStore&)> spoil;
    const char* failure;  // nothing: measured
  };
  const std::vector<Case> cases = {
      {"all zero", [](FrameStore& s) { FillAll(s, 0); }, "a flat frame: its sky has no noise (all one value, or saturated)"},
      {"saturated", [](FrameStore& s) { FillAll(s, 65535); }, "a flat frame: its sky has no noise (all one value, or saturated)"},
      {"smaller than the mesh", [](FrameStore& s) { s.Naxis1 = 50; }, "the frame (50 x 300) is smaller than the background's mesh"},
      {"circle elsewhere", nullptr, "the sky circle's centre lies outside the 300 x 300 frame"},
  };
  for (const Case& c : cases) {
    SkySettings settings;
    settings.enabled = true;
    if (!c.spoil) settings.circle = SkyCircle{900, 100, 50};
    SkyAnalyser analyser;
    ASSERT_TRUE(analyser.Configure(settings).ok);
    FrameStore store;
    PutFrame(store, sky, options.width, options.height);
    if (c.spoil) c.spoil(store);
    const SkyReading& reading = analyser.Analyse(store, 1, "2026-12-08");
    EXPECT_EQ(reading.failure, c.failure) << c.what;
  }
  // Without a usable EXPTIME the darkness is still measured, only not per second.
  for (const char* exptime : {"", "0", "-5", "NAN", "'abc'"}) {
    SkySettings settings;
    settings.enabled = true;
    SkyAnalyser analyser;
    ASSERT_TRUE(analyser.Configure(settings).ok);
    FrameStore store;
    PutFrame(store, sky, options.width, options.height, *exptime ? std::optional<std::string>(exptime) : std::nullopt);
    const SkyReading& reading = analyser.Analyse(store, 1, "2026-12-08");
    EXPECT_TRUE(reading.measured()) << exptime;
    EXPECT_FALSE(reading.background_per_s) << exptime;
  }
}

}  // namespace
