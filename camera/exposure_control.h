#pragma once
// The exposure: the one the observer set, or one chosen frame by frame so that the sky's
// background lands near a target share of full scale, from day to night.

struct ExposureSettings {
  bool automatic = false;
  double seconds = 1;          // --exposure SECONDS, and where auto starts
  double target_level = 0.25;  // --target-level F: the background's share of full scale
  double shortest = 0.0001;    // --exposure-min
  double longest = 60;         // --exposure-max
};

/// The next exposure after one of `current` seconds whose background stood at `level` of full
/// scale (0 to 1). A fixed exposure stays as it is.
double NextExposure(double current, double level, const ExposureSettings& settings);
