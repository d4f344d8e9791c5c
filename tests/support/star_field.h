// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Synthetic night frames whose stars are known: Gaussian stars of FWHM 2 to 4 pixels, Poisson
// noise on a sky with a gradient, hot pixels, cosmic rays and dark corners outside the sky
// circle. The sky analysis is measured against the list they come with.

#include <cstdint>
#include <optional>
#include <vector>

struct StarFieldOptions {
  int width = 1537;
  int height = 1537;
  int stars = 1200;
  double sky = 1000;           // the background at the centre, in electrons = samples
  double gradient = 0.1;       // the sky rises by this part of itself from left to right
  double least_peak = 3;       // star peaks from this many times the sky's noise...
  double most_peak = 400;      // ...to this many, evenly in their logarithm
  int hot_pixels = 40;
  int cosmic_rays = 20;
  unsigned seed = 1;           // the stars, hot pixels and dark corners; the noise adds `frame`
  unsigned frame = 0;          // a later frame: new noise and cosmic rays, stars moved by `drift`
  double drift = 0;            // pixels the stars move per frame (along x)
  std::vector<int> clouded_sectors;  // the stars of these sectors hidden (a cloud bank)
  double turn = 0;             // radians the sky turns per frame about the circle's centre
  double twinkle = 0;          // each star's peak varies by up to this part of itself, frame to frame
  struct Line {
    double x1, y1, x2, y2;
    double peak_sigma;
    double dash = 0;  // a blinking light: lit for half of each `dash` pixels along the line
    double twin = 0;  // a second light this many pixels beside the line
  };
  std::vector<Line> lines;     // streaks drawn into this frame (FWHM 2.5)
};

struct StarFieldTruth {
  struct Star {
    double x, y, peak_sigma;
  };
  std::vector<Star> stars;         // inside the circle
  std::vector<uint32_t> hot;       // x + width * y
  double sky_at_centre = 0;
  double noise = 0;                // the sky's noise at the centre
};

/// A 16-bit frame (BZERO 32768 style samples are left to the writer): values 0 to 65535.
std::vector<uint16_t> MakeStarField(const StarFieldOptions& options, StarFieldTruth& truth);

/// How many of the found positions match a true star within `radius` pixels, and how many match
/// none; `least_sigma` counts as wanted only the true stars of that peak or more.
struct StarMatch {
  int wanted = 0;       // true stars of at least least_sigma
  int wanted_found = 0;
  int spurious = 0;     // found positions near no true star and no hot pixel
  int on_hot = 0;       // found positions on a hot pixel
};
StarMatch MatchStars(const StarFieldTruth& truth, const std::vector<std::pair<double, double>>& found, int width,
                     double least_sigma = 10, double radius = 2.5);
