// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// New straight streaks in a frame: what its sky (background subtracted, in units of the local
// noise, hot pixels replaced, nothing outside the sky circle) shows that the frame before did
// not. Both are smoothed over 3 x 3, which lifts a faint line well above the noise; the frame
// before is widened by its brightest pixel within three, so that stars turning about the pole and
// twinkling are not new. What is new and bright enough is grouped into pieces along straight
// lines: a line of pieces with gaps is dashed (blinking lights), two lines side by side doubled.
// A cosmic ray, a star or a cloud's edge is too short or too wide to be a streak.

#include <cstdint>
#include <vector>

#include "sky/sky_image.h"
#include "sky/streak_geometry.h"

struct EventSettings {
  bool enabled = false;  // --events: meteors, satellites and aeroplanes in the night's frames
  bool all = false;      // --events all: the others are kept too, not only the meteors
  double sigma = 5;      // --event-sigma S: a streak's brightest pixel, in units of the noise
  int length = 15;       // --event-length PX: in frame pixels
};


class StreakFinder {
 public:
  /// The new streaks of `image` (the sky's signal in noise units, NaN outside the circle) against
  /// the last image given; none for the first, or after one of another size.
  std::vector<Streak> Find(const SkyImage& image, double sigma, int least_length);
  /// The smoothed signal along `streak` in the last image given (its median): how much of it is
  /// still there.
  float LevelAlong(const Streak& streak) const;
  void Forget();

 private:
  std::vector<float> smooth_;     // this image, 3 x 3
  std::vector<float> wide_last_;  // the last image's smoothed, its brightest within 2 pixels
  std::vector<float> last_, work_;  // kept from frame to frame: no allocation per frame
  std::vector<int32_t> labels_;
  int width_ = 0, height_ = 0, bin_ = 1;
};
