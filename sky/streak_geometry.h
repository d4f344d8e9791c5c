// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A streak as the frames' analysis finds it, and how two streaks stand to each other.

struct Streak {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // its ends, in frame pixels
  double length = 0;                      // in frame pixels
  float peak = 0;                         // its brightest pixels (one in ten along it), in noise units
  bool dashed = false;                    // pieces along one line with gaps between
  bool doubled = false;                   // a line beside a parallel twin
  float level = 0;                        // the smoothed signal along it (its median), for what comes after
};

/// True when `b` runs beside `a`, parallel and a few pixels from it, along the same stretch.
bool SideBySide(const Streak& a, const Streak& b);
/// True when `b` lies on the line of `a` (either way along it, however far).
bool OnOneLine(const Streak& a, const Streak& b);
/// One streak from two on one line: from end to end of both.
Streak Joined(const Streak& a, const Streak& b);
