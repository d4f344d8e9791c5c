// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/streak_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// How far (x, y) lies off the line through `s`.
double OffLine(const Streak& s, double x, double y) {
  const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
  const double length = std::hypot(dx, dy);
  if (length <= 0) return std::hypot(x - s.x1, y - s.y1);
  return std::abs((x - s.x1) * dy - (y - s.y1) * dx) / length;
}

}  // namespace

bool SideBySide(const Streak& a, const Streak& b) {
  const double ax = a.x2 - a.x1, ay = a.y2 - a.y1, bx = b.x2 - b.x1, by = b.y2 - b.y1;
  const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  if (la <= 0 || lb <= 0 || std::abs(ax * bx + ay * by) / (la * lb) < std::cos(4 * std::numbers::pi / 180)) return false;
  // Both of b's ends near a's line, and their stretches along it overlapping.
  if (OffLine(a, b.x1, b.y1) > 16 || OffLine(a, b.x2, b.y2) > 16) return false;
  const auto along = [&](double x, double y) { return ((x - a.x1) * ax + (y - a.y1) * ay) / la; };
  const double low = std::min(along(b.x1, b.y1), along(b.x2, b.y2)), high = std::max(along(b.x1, b.y1), along(b.x2, b.y2));
  return std::min(high, la) - std::max(low, 0.0) > 0.3 * std::min(la, lb);
}

bool OnOneLine(const Streak& a, const Streak& b) {
  const double ax = a.x2 - a.x1, ay = a.y2 - a.y1, bx = b.x2 - b.x1, by = b.y2 - b.y1;
  const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  if (la <= 0 || lb <= 0) return false;
  // Four degrees, or more for a short piece whose direction is known only to a pixel or two (of
  // a binned sky: several of the frame's).
  const double tolerance = std::max(4 * std::numbers::pi / 180, std::atan2(8.0, std::min(la, lb)));
  if (std::abs(ax * bx + ay * by) / (la * lb) < std::cos(tolerance)) return false;
  // The longer one gives the line; its angle is known to about a pixel over its length, so the
  // allowance grows with the distance.
  const Streak& line = la >= lb ? a : b;
  const Streak& other = la >= lb ? b : a;
  const double mx = (line.x1 + line.x2) / 2, my = (line.y1 + line.y2) / 2;
  const double half = std::max(la, lb) / 2;
  for (const auto& [x, y] : {std::pair{other.x1, other.y1}, std::pair{other.x2, other.y2}}) {
    const double distance = std::max(0.0, std::hypot(x - mx, y - my) - half);
    if (OffLine(line, x, y) > 10 + distance * 0.02) return false;  // a twin's light lies a few pixels aside
  }
  return true;
}

Streak Joined(const Streak& a, const Streak& b) {
  // The two ends farthest apart along the longer one's direction.
  const Streak& line = std::hypot(a.x2 - a.x1, a.y2 - a.y1) >= std::hypot(b.x2 - b.x1, b.y2 - b.y1) ? a : b;
  const double ux = line.x2 - line.x1, uy = line.y2 - line.y1;
  std::pair<double, double> low{a.x1, a.y1}, high = low;
  for (const auto& point : {std::pair{a.x1, a.y1}, std::pair{a.x2, a.y2}, std::pair{b.x1, b.y1}, std::pair{b.x2, b.y2}}) {
    const auto along = [&](const std::pair<double, double>& p) { return p.first * ux + p.second * uy; };
    if (along(point) < along(low)) low = point;
    if (along(point) > along(high)) high = point;
  }
  Streak joined = line;
  joined.x1 = low.first;
  joined.y1 = low.second;
  joined.x2 = high.first;
  joined.y2 = high.second;
  joined.length = std::hypot(joined.x2 - joined.x1, joined.y2 - joined.y1) + (line.length - std::hypot(ux, uy));
  joined.peak = std::max(a.peak, b.peak);
  joined.dashed = a.dashed || b.dashed;
  joined.doubled = a.doubled || b.doubled;
  return joined;
}
