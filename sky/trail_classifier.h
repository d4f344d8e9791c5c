// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a streak is, told by the frames around it: a meteor is in one frame only; a satellite goes
// on along the same line in the frame before or after, steady; an aeroplane goes on too and is
// dashed or doubled by its lights (dashed or doubled alone is enough). Something still there in
// the next frame, or a streak whose next frame never came, is a trail. A frame's streaks are
// decided when the next frame comes: one cycle late, never wrong for want of it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sky/streak_finder.h"

enum class TrailClass { kMeteor, kSatellite, kAeroplane, kTrail };

const char* TrailClassName(TrailClass kind);  // "meteor", "satellite", "aeroplane", "trail"

struct TrailEvent {
  Streak streak;
  TrailClass kind = TrailClass::kTrail;
  uint64_t frame = 0;  // the caller's number for the frame it was in
};


class TrailClassifier {
 public:
  /// Frame `frame`'s streaks, found against the frame just before it; `still_there` tells how
  /// strongly a streak of the last frame shows in this one. Returns the last frame's streaks,
  /// decided now.
  std::vector<TrailEvent> Next(uint64_t frame, std::vector<Streak> streaks,
                               const std::function<float(const Streak&)>& still_there);
  /// No next frame (the sky could not be read, or the station stops): the waiting streaks are
  /// decided with what is known, and the next frame is compared with none.
  std::vector<TrailEvent> Break();

 private:
  std::vector<TrailEvent> Decide(const std::vector<Streak>* next, const std::function<float(const Streak&)>* still_there);

  std::vector<Streak> before_;   // the streaks of the frame before the waiting one
  std::vector<Streak> waiting_;  // the last frame's, not yet decided
  uint64_t waiting_frame_ = 0;
  bool has_waiting_ = false;
};
