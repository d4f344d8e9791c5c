// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/sun_altitude.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

bool ParseDegrees(const std::string& text, double low, double high, double& value) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  return !text.empty() && failure == std::errc() && stop == end && std::isfinite(value) && value >= low && value <= high;
}

}  // namespace

std::optional<Site> Site::Parse(const std::string& text) {
  const size_t comma = text.find(',');
  Site site;
  if (comma == std::string::npos || !ParseDegrees(text.substr(0, comma), -90, 90, site.latitude) ||
      !ParseDegrees(text.substr(comma + 1), -180, 180, site.longitude))
    return std::nullopt;
  return site;
}

double SunAltitude(const Site& site, double unix_seconds) {
  const double n = unix_seconds / 86400.0 + 2440587.5 - 2451545.0;  // days from J2000.0
  const double mean_longitude = std::fmod(280.460 + 0.9856474 * n, 360.0);
  const double anomaly = std::fmod(357.528 + 0.9856003 * n, 360.0) * kDegree;
  const double ecliptic = (mean_longitude + 1.915 * std::sin(anomaly) + 0.020 * std::sin(2 * anomaly)) * kDegree;
  const double obliquity = (23.439 - 0.0000004 * n) * kDegree;
  const double right_ascension = std::atan2(std::cos(obliquity) * std::sin(ecliptic), std::cos(ecliptic));
  const double declination = std::asin(std::sin(obliquity) * std::sin(ecliptic));
  // Local sidereal time in degrees, then the sun's hour angle.
  const double sidereal = std::fmod(280.46061837 + 360.98564736629 * n + site.longitude, 360.0) * kDegree;
  const double hour_angle = sidereal - right_ascension;
  const double latitude = site.latitude * kDegree;
  const double sine = std::sin(latitude) * std::sin(declination) +
                      std::cos(latitude) * std::cos(declination) * std::cos(hour_angle);
  return std::asin(std::clamp(sine, -1.0, 1.0)) / kDegree;
}
