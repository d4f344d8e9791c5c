// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sep_sources.h"

#include <memory>
#include <string>

namespace {

constexpr int kPixelStackFull = 2;  // SEP's status where its pixel stack overflowed
constexpr int kLeastPixels = 3;

struct CatalogFree {
  void operator()(sep_catalog* catalog) const { sep_catalog_free(catalog); }
};

}  // namespace

Outcome ExtractSepSourcesHere(const sep_image& image, float sigma, std::vector<SepSource>& sources) {
  sources.clear();
  static const float kKernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};  // SEP's and SExtractor's default
  // SEP keeps the pixels of the sources it is following on a stack of a fixed size: a small one
  // for a night sky at the usual threshold, a larger one only where that overflows (a threshold
  // near the noise, a bright sky), so that the analysis takes little memory beyond its image.
  std::unique_ptr<sep_catalog, CatalogFree> catalog;
  int status = 0;
  for (const size_t pixels : {size_t{100'000}, size_t{300'000}, size_t{1'000'000}}) {
    sep_set_extract_pixstack(pixels);
    sep_catalog* found = nullptr;
    status = sep_extract(&image, sigma, SEP_THRESH_REL, kLeastPixels, kKernel, 3, 3, SEP_FILTER_CONV, 32, 0.005, 1,
                         1.0, &found);
    catalog.reset(found);
    if (status != kPixelStackFull) break;
  }
  if (status != 0) {
    char text[72] = {};
    sep_get_errmsg(status, text);
    return Outcome::Failure(std::string("SEP: ") + text);
  }
  sources.reserve(static_cast<size_t>(catalog->nobj));
  for (int i = 0; i < catalog->nobj; ++i)
    sources.push_back({catalog->x[i], catalog->y[i], catalog->peak[i], catalog->xpeak[i], catalog->ypeak[i]});
  return Outcome::Success();
}
