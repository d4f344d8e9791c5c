// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The part of the frame that shows the sky: a circle in frame pixels. Pixels outside it (the
// horizon's trees, the dome's rim, the dark corners of a fisheye's frame) never count. The circle
// is cut into 16 sectors: 8 directions by 2 rings of equal area, so that a cloud bank low in the
// west is told apart from a clear zenith.

#include <optional>
#include <string>

struct SkyCircle {
  double cx = 0;
  double cy = 0;
  double r = 0;
};

inline constexpr int kSkySectors = 16;

/// "CX,CY,R" in frame pixels, each a finite number, R above 0; nothing otherwise.
std::optional<SkyCircle> ParseSkyCircle(const std::string& text);
/// The largest circle centred in a `width` x `height` frame.
SkyCircle LargestCentredCircle(int width, int height);
/// True when the circle's centre lies in the frame: a circle elsewhere holds no sky of it.
bool CentreInFrame(const SkyCircle& circle, int width, int height);

/// The sector of the point (`x`, `y`), or -1 outside the circle. Sectors 0 to 7 are the inner
/// ring, 8 to 15 the outer; within a ring the direction counts clockwise from the top of the
/// frame, 45 degrees each.
int SectorOf(const SkyCircle& circle, double x, double y);
