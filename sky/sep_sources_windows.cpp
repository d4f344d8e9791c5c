// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no fork: the extraction runs in the station (see sep_sources.h for what it costs).
#include "sky/sep_sources.h"

Outcome ExtractSepSources(const sep_image& image, float sigma, std::vector<SepSource>& sources) {
  return ExtractSepSourcesHere(image, sigma, sources);
}
