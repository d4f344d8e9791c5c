// SPDX-License-Identifier: GPL-3.0-or-later
// A build without SEP's C library (the Windows build, whose sysroot has none: Debian's source of
// it could not be had when the sysroot was made). The station refuses --sky at start there, so
// this is reached only by a caller that did not ask first.
#include "sky/star_extraction.h"

bool StarExtractionAvailable() { return false; }

Outcome ExtractStars(SkyImage&, const SkyCircle&, double, StarField& field) {
  field = {};
  return Outcome::Failure("this build cannot find stars: it was made without SEP's C library");
}
