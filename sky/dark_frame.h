// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A master dark (--dark FILE): the sensor's own signal at the frames' exposure, subtracted before
// the picture and the analysis, so that its warm pixels and glow are neither drawn nor counted.

#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "fits/frame_store.h"

struct DarkFrame {
  int width = 0;
  int height = 0;
  std::vector<float> values;        // physical values, as the reader gives them, row by row
  std::optional<double> exposure;   // its EXPTIME, where it has a usable one
};

/// Reads the dark at `path`: a two-dimensional integer FITS image, as the live frames are. A
/// missing or unreadable file, a header the station refuses, or a frame of colour planes is
/// refused with the reason.
Outcome LoadDarkFrame(const std::string& path, DarkFrame& dark);

/// The width and height a FITS file's first header gives (NAXIS1, NAXIS2), read from its header
/// alone; nothing where the file cannot be read or says no size.
struct FitsSize {
  int width = 0;
  int height = 0;
};
std::optional<FitsSize> FitsFrameSize(const std::string& path);

/// A frame's usable EXPTIME (finite, above 0), or nothing.
std::optional<double> ExposureOf(const FrameStore& store);

/// The factor the dark is scaled by for this frame: the ratio of the exposures where both have
/// one, else 1.
double DarkScale(const DarkFrame& dark, const FrameStore& store);
