// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SEP's extraction of the sources of a background-subtracted image. Debian's SEP (1.2.1) loses
// two arrays of each call's catalogue (its flux arrays are allocated twice): 8 bytes a source,
// some 12 MB a day for a station that finds a thousand stars a minute. On POSIX systems the
// extraction therefore runs in a child process that shares the image (fork) and hands back only
// the sources; whatever SEP loses goes with the child, and a crash in it cannot take the station
// down. On Windows it runs in the station itself.

#include <cstddef>  // sep.h uses size_t without saying where it comes from
extern "C" {
#include <sep.h>
}

#include <vector>

#include "base/outcome.h"

struct SepSource {
  double x, y;       // barycentre, image pixels
  float peak;        // the highest pixel above the background
  int xpeak, ypeak;  // where it is
};

/// Sources of `image` above `sigma` (relative to its noise), at least 3 pixels, SEP's 3 x 3
/// convolution filter; SEP's pixel stack grows only where it overflows.
Outcome ExtractSepSources(const sep_image& image, float sigma, std::vector<SepSource>& sources);

/// The same in this process (what the child runs).
Outcome ExtractSepSourcesHere(const sep_image& image, float sigma, std::vector<SepSource>& sources);
