// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sky_brightness.h"

#include <cmath>

namespace {

std::optional<double> FluxPerArea(double background, double exposure, double pixel_scale) {
  const double flux = background / (exposure * pixel_scale * pixel_scale);
  if (!(background > 0) || !(exposure > 0) || !(pixel_scale > 0) || !std::isfinite(flux) || !(flux > 0))
    return std::nullopt;
  return flux;
}

}  // namespace

std::optional<double> SkyMagnitude(double background, double exposure, double zero_point, double pixel_scale) {
  const std::optional<double> flux = FluxPerArea(background, exposure, pixel_scale);
  if (!flux || !std::isfinite(zero_point)) return std::nullopt;
  return zero_point - 2.5 * std::log10(*flux);
}

std::optional<double> ZeroPointFor(double reading, double background, double exposure, double pixel_scale) {
  const std::optional<double> flux = FluxPerArea(background, exposure, pixel_scale);
  if (!flux || !std::isfinite(reading)) return std::nullopt;
  return reading + 2.5 * std::log10(*flux);
}
