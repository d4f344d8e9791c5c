// SPDX-License-Identifier: GPL-3.0-or-later
#include "camera/exposure_control.h"

#include <algorithm>
#include <cmath>

namespace {

// The background grows with the exposure, so the ratio of target to level is the step; it is
// bounded because a saturated or black frame says only which way to go, not how far. Within a
// tenth of the target the exposure holds, so that noise does not make it wander.
constexpr double kLargestStep = 16;
constexpr double kHoldWithin = 0.1;
constexpr double kSaturated = 0.98;

}  // namespace

double NextExposure(double current, double level, const ExposureSettings& settings) {
  if (!settings.automatic) return settings.seconds;
  double step = 1;
  if (!(level >= 0) || !std::isfinite(level)) {
    step = 1;  // a frame without a measured background moves nothing
  } else if (level >= kSaturated) {
    step = 1 / kLargestStep;
  } else if (level <= 0) {
    step = kLargestStep;
  } else if (std::abs(level / settings.target_level - 1) > kHoldWithin) {
    step = std::clamp(settings.target_level / level, 1 / kLargestStep, kLargestStep);
  }
  return std::clamp(current * step, settings.shortest, settings.longest);
}
