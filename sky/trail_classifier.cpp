// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/trail_classifier.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kStillThere = 0.5;        // of its own signal, in the next frame

// How far (x, y) lies off the line through `s`.
double OffLine(const Streak& s, double x, double y) {
  const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
  const double length = std::hypot(dx, dy);
  if (length <= 0) return std::hypot(x - s.x1, y - s.y1);
  return std::abs((x - s.x1) * dy - (y - s.y1) * dx) / length;
}

}  // namespace

const char* TrailClassName(TrailClass kind) {
  switch (kind) {
    case TrailClass::kMeteor: return "meteor";
    case TrailClass::kSatellite: return "satellite";
    case TrailClass::kAeroplane: return "aeroplane";
    case TrailClass::kTrail: return "trail";
  }
  return "trail";
}

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

std::vector<TrailEvent> TrailClassifier::Next(uint64_t frame, std::vector<Streak> streaks,
                                              const std::function<float(const Streak&)>& still_there) {
  std::vector<TrailEvent> decided = Decide(&streaks, &still_there);
  before_ = has_waiting_ ? std::move(waiting_) : std::vector<Streak>();
  waiting_ = std::move(streaks);
  waiting_frame_ = frame;
  has_waiting_ = true;
  return decided;
}

std::vector<TrailEvent> TrailClassifier::Break() {
  std::vector<TrailEvent> decided = Decide(nullptr, nullptr);
  before_.clear();
  waiting_.clear();
  has_waiting_ = false;
  return decided;
}

std::vector<TrailEvent> TrailClassifier::Decide(const std::vector<Streak>* next,
                                                const std::function<float(const Streak&)>* still_there) {
  std::vector<TrailEvent> decided;
  if (!has_waiting_) return decided;
  const size_t count = waiting_.size();
  // What each streak shows itself, and what the frames before and after show on its line.
  std::vector<bool> goes_on(count, false), lights(count, false);
  for (size_t i = 0; i < count; ++i) {
    const Streak& streak = waiting_[i];
    lights[i] = streak.dashed || streak.doubled;
    for (const std::vector<Streak>* around : {static_cast<const std::vector<Streak>*>(&before_), next}) {
      if (!around) continue;
      for (const Streak& other : *around)
        if (OnOneLine(streak, other)) {
          goes_on[i] = true;
          lights[i] = lights[i] || other.dashed || other.doubled;
        }
    }
  }
  // Pieces of one frame on one line are one thing, and two lines side by side an aeroplane's lights.
  std::vector<bool> goes_on_too = goes_on, lights_too = lights;
  for (size_t i = 0; i < count; ++i)
    for (size_t j = 0; j < count; ++j) {
      if (i == j) continue;
      if (SideBySide(waiting_[i], waiting_[j])) lights_too[i] = true;
      if (!OnOneLine(waiting_[i], waiting_[j])) continue;
      goes_on_too[i] = goes_on_too[i] || goes_on[j];
      lights_too[i] = lights_too[i] || lights[j];
    }
  for (size_t i = 0; i < count; ++i) {
    const Streak& streak = waiting_[i];
    TrailEvent event{streak, TrailClass::kMeteor, waiting_frame_};
    if (lights_too[i]) event.kind = TrailClass::kAeroplane;
    else if (goes_on_too[i]) event.kind = TrailClass::kSatellite;
    else if (!next || (*still_there)(streak) >= kStillThere * streak.level) event.kind = TrailClass::kTrail;
    decided.push_back(event);
  }
  return decided;
}
