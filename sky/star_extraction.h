// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stars found the way the field finds them, with SEP's C library: the sky's background and its
// noise measured over a mesh and subtracted, then sources of at least 3 connected pixels above S
// times the local noise. Only pixels inside the sky circle count, for the background as for the
// sources. A source that is one pixel alone (a cosmic ray, a hot pixel not yet learned) is no star.

#include <vector>

#include "base/outcome.h"
#include "sky/sky_circle.h"
#include "sky/sky_image.h"

inline constexpr int kMeshSide = 64;      // the background's mesh, in image pixels
inline constexpr int kLeastStarPixels = 3;

struct StarField {
  struct Star {
    double x, y;  // in frame pixels
    float peak;   // in units of the local noise
  };
  std::vector<Star> stars;  // inside the circle
  double background = 0;    // the background's median inside the circle, per frame pixel
  double noise = 0;         // the background's global noise, per image pixel
};

/// False in a build made without SEP's C library, where ExtractStars only refuses.
bool StarExtractionAvailable();

/// Finds the stars of `image` inside `circle` (in frame pixels) above `sigma` times the local
/// noise. The image is used up: it holds the background-subtracted signal in noise units after.
/// Refused, with the reason, where SEP refuses (a flat frame, no sky inside the circle, a frame
/// so crowded that its pixel stack overflows).
Outcome ExtractStars(SkyImage& image, const SkyCircle& circle, double sigma, StarField& field);
