// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the sun stands above a site's horizon, from the standard low-precision solar position
// (the Astronomical Almanac's): good to about 0.01 degree, a few seconds of time, from 1950 to
// 2050 and well beyond for the purpose of telling day from night.

#include <optional>
#include <string>

struct Site {
  double latitude = 0;   // degrees, north positive
  double longitude = 0;  // degrees, east positive

  /// "LAT,LON" in decimal degrees (e.g. "35.68,139.77"); nothing for any other text or values
  /// beyond -90..90 and -180..180.
  static std::optional<Site> Parse(const std::string& text);
};

/// The sun's altitude in degrees above the horizon at `site` at `unix_seconds` (UTC), corrected
/// for neither refraction nor the sun's size.
double SunAltitude(const Site& site, double unix_seconds);
