// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/trail_classifier.h"


namespace {

constexpr double kStillThere = 0.5;        // of its own signal, in the next frame

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
