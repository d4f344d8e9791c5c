// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sky_circle.h"

#include "base/plain_numbers.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::optional<SkyCircle> ParseSkyCircle(const std::string& text) {
  const size_t first = text.find(',');
  const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos || text.find(',', second + 1) != std::string::npos) return std::nullopt;
  const auto cx = ParsePlainNumber(text.substr(0, first));
  const auto cy = ParsePlainNumber(text.substr(first + 1, second - first - 1));
  const auto r = ParsePlainNumber(text.substr(second + 1));
  if (!cx || !cy || !r || *r <= 0) return std::nullopt;
  return SkyCircle{*cx, *cy, *r};
}

SkyCircle LargestCentredCircle(int width, int height) {
  return {width / 2.0, height / 2.0, std::min(width, height) / 2.0};
}

bool CentreInFrame(const SkyCircle& circle, int width, int height) {
  return circle.cx >= 0 && circle.cy >= 0 && circle.cx <= width && circle.cy <= height;
}

int SectorOf(const SkyCircle& circle, double x, double y) {
  const double dx = x - circle.cx, dy = y - circle.cy;
  const double d2 = dx * dx + dy * dy;
  const double r2 = circle.r * circle.r;
  if (d2 > r2) return -1;
  // Equal areas: the inner ring ends at R / sqrt(2).
  const int ring = d2 > r2 / 2 ? 1 : 0;
  // Clockwise from the top: atan2 of (x, -y) in image coordinates, where y grows downwards.
  double angle = std::atan2(dx, -dy);
  if (angle < 0) angle += 2 * std::numbers::pi;
  const int direction = std::min(7, static_cast<int>(angle / (std::numbers::pi / 4)));
  return ring * 8 + direction;
}
