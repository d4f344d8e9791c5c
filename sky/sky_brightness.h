// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sky's brightness as a hand-held sky quality meter gives it, in magnitudes per square arc
// second: Z - 2.5 log10(B / (t * s^2)), where B is the background per pixel, t the exposure in
// seconds and s the pixel's side in arc seconds. Z, the zero point, holds the camera's gain and
// optics; it is found once by comparing with a meter on a clear night.

#include <optional>

/// The brightness; nothing where the background is not above 0 or a number is not usable.
std::optional<double> SkyMagnitude(double background, double exposure, double zero_point, double pixel_scale);
/// The zero point that makes `background` read `reading`.
std::optional<double> ZeroPointFor(double reading, double background, double exposure, double pixel_scale);
