// SPDX-License-Identifier: GPL-3.0-or-later
// The night's events told apart on a turning, twinkling star field with hot pixels and cosmic
// rays: a faint short meteor in one frame, a satellite going on along its line, an aeroplane's
// dashes, and nothing at all in the frames between.

#include <numbers>

#include <gtest/gtest.h>

#include "sky/sky_analyser.h"
#include "sky/streak_finder.h"
#include "sky/trail_classifier.h"
#include "tests/sky/sky_frames.h"

TEST(TrailTest, MeteorSatelliteAndAeroplaneAreToldApartAndStarsCosmicRaysAndTwinklesAreNoStreak) {
  constexpr int kSide = 769;
  std::map<unsigned, std::vector<StarFieldOptions::Line>> lines;
  lines[2] = {{300, 300, 318, 309, 6}};                              // faint and short: a meteor
  lines[4] = {{150, 500, 250, 450, 12}};                             // a satellite...
  lines[5] = {{260, 445, 360, 395, 12}};                             // ...going on
  lines[7] = {{420, 150, 560, 250, 20, 10}, {200, 250, 260, 330, 9}};  // an aeroplane's dashes, a meteor
  lines[8] = {{570, 257, 680, 336, 20, 10}};
  SkySettings settings;
  settings.enabled = true;
  settings.remove_hot_pixels = true;
  SkyAnalyser analyser;
  ASSERT_TRUE(analyser.Configure(settings).ok);
  StreakFinder finder;
  TrailClassifier classifier;
  std::vector<std::pair<uint64_t, std::string>> events;
  const auto keep = [&](const std::vector<TrailEvent>& decided) {
    for (const TrailEvent& event : decided) events.emplace_back(event.frame, TrailClassName(event.kind));
  };
  for (unsigned f = 0; f < 11; ++f) {
    StarFieldOptions options;
    options.width = options.height = kSide;
    options.stars = 400;
    options.frame = f;
    options.turn = 2 * std::numbers::pi / 1436;
    options.twinkle = 0.15;
    options.lines = lines[f];
    StarFieldTruth truth;
    FrameStore store;
    PutFrame(store, MakeStarField(options, truth), kSide, kSide, "30.0");
    analyser.Prepare(store);
    ASSERT_TRUE(analyser.Analyse(store, f + 1, "").measured());
    const std::vector<Streak> streaks = finder.Find(analyser.signal(), 5, 15);
    keep(classifier.Next(f, streaks, [&](const Streak& s) { return finder.LevelAlong(s); }));
  }
  keep(classifier.Break());
  const std::vector<std::pair<uint64_t, std::string>> expected = {
      {2, "meteor"}, {4, "satellite"}, {5, "satellite"}, {7, "aeroplane"}, {7, "meteor"}, {8, "aeroplane"}};
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, expected);
}
