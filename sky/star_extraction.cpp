// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/star_extraction.h"

#include "sky/sep_sources.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace {

std::string SepReason(int status) {
  char text[72] = {};
  sep_get_errmsg(status, text);
  return std::string("SEP: ") + text;
}

struct BackgroundFree {
  void operator()(sep_bkg* background) const { sep_bkg_free(background); }
};

// A single bright pixel among neighbours near the sky: a cosmic ray or a hot pixel. A star's
// peak has shoulders: even at a FWHM of 2 pixels its next-brightest neighbour holds a third of it.
bool LonePixel(const SkyImage& image, int x, int y) {
  const float peak = image.pixels[static_cast<size_t>(x) + static_cast<size_t>(image.width) * y];
  std::array<float, 8> around{};
  int count = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int nx = x + dx, ny = y + dy;
      if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
      around[static_cast<size_t>(count++)] = image.pixels[static_cast<size_t>(nx) + static_cast<size_t>(image.width) * ny];
    }
  if (count < 2) return false;
  std::partial_sort(around.begin(), around.begin() + 2, around.begin() + count, std::greater<float>());
  return around[1] < 0.2f * peak;
}

float Median(std::vector<float>& values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

bool StarExtractionAvailable() { return true; }

Outcome ExtractStars(SkyImage& image, const SkyCircle& circle, double sigma, StarField& field) {
  field = {};
  const double bin = image.bin;
  const SkyCircle inside{(circle.cx + 0.5) / bin - 0.5, (circle.cy + 0.5) / bin - 0.5, circle.r / bin};
  const double r2 = inside.r * inside.r;
  const auto row_span = [&](int y, int& first, int& end) {  // the columns of row y inside the circle
    const double dy = y - inside.cy;
    const double half = r2 - dy * dy;
    if (half < 0) return first = end = 0, void();
    const double w = std::sqrt(half);
    first = std::clamp(static_cast<int>(std::ceil(inside.cx - w)), 0, image.width);
    end = std::clamp(static_cast<int>(std::floor(inside.cx + w)) + 1, first, image.width);
  };
  // Outside the circle, and wherever the frame has no number, the background is not measured:
  // SEP passes over NaN as it passes over a masked pixel.
  size_t sky_pixels = 0;
  for (int y = 0; y < image.height; ++y) {
    float* row = image.pixels.data() + static_cast<size_t>(image.width) * y;
    int first = 0, end = 0;
    row_span(y, first, end);
    std::fill(row, row + first, std::numeric_limits<float>::quiet_NaN());
    std::fill(row + end, row + image.width, std::numeric_limits<float>::quiet_NaN());
    for (int x = first; x < end; ++x) sky_pixels += std::isfinite(row[x]) ? 1 : 0;
  }
  if (sky_pixels < static_cast<size_t>(kMeshSide) * kMeshSide) return Outcome::Failure("no sky inside the circle");

  sep_image data{};
  data.data = image.pixels.data();
  data.dtype = SEP_TFLOAT;
  data.w = image.width;
  data.h = image.height;
  data.noiseval = 1.0;
  data.noise_type = SEP_NOISE_STDDEV;
  sep_bkg* made = nullptr;
  int status = sep_background(&data, kMeshSide, kMeshSide, 3, 3, 0.0, &made);
  std::unique_ptr<sep_bkg, BackgroundFree> background(made);
  if (status != 0) return Outcome::Failure(SepReason(status));
  // SEP falls back to a global noise of 1 where the sky has none; its map of the noise tells.
  field.noise = sep_bkg_globalrms(background.get());

  // One pass: the signal above the background in units of the local noise, so that one threshold
  // is S times the noise wherever it is; the background's values inside the circle on a sparse
  // grid for its median. Outside the circle, and where the frame had no number, nothing is left.
  std::vector<float> back(static_cast<size_t>(image.width)), rms(static_cast<size_t>(image.width));
  std::vector<float> sky_levels, sky_noise;
  for (int y = 0; y < image.height; ++y) {
    float* row = image.pixels.data() + static_cast<size_t>(image.width) * y;
    int first = 0, end = 0;
    row_span(y, first, end);
    std::fill(row, row + first, 0.0f);
    std::fill(row + end, row + image.width, 0.0f);
    if (first == end) continue;
    sep_bkg_line(background.get(), y, back.data(), SEP_TFLOAT);
    sep_bkg_rmsline(background.get(), y, rms.data(), SEP_TFLOAT);
    for (int x = first; x < end; ++x) {
      const float noise = rms[static_cast<size_t>(x)] > 0 ? rms[static_cast<size_t>(x)] : static_cast<float>(field.noise);
      row[x] = std::isfinite(row[x]) ? (row[x] - back[static_cast<size_t>(x)]) / noise : 0.0f;
    }
    if (y % 8 == 0)
      for (int x = first; x < end; x += 8) {
        sky_levels.push_back(back[static_cast<size_t>(x)]);
        sky_noise.push_back(rms[static_cast<size_t>(x)]);
      }
  }
  if (sky_levels.empty()) return Outcome::Failure("no sky inside the circle");
  field.background = Median(sky_levels);
  if (!(Median(sky_noise) > 0) || !std::isfinite(field.background))
    return Outcome::Failure("a flat frame: its sky has no noise (all one value, or saturated)");

  std::vector<SepSource> sources;
  if (const Outcome found = ExtractSepSources(data, static_cast<float>(sigma), sources); !found.ok) return found;
  for (const SepSource& source : sources) {
    const double x = (source.x + 0.5) * bin - 0.5, y = (source.y + 0.5) * bin - 0.5;
    if (SectorOf(circle, x, y) < 0) continue;
    // At bin 1 a star spans pixels; binned, even a star can be one pixel.
    if (image.bin == 1 && LonePixel(image, source.xpeak, source.ypeak)) continue;
    field.stars.push_back({x, y, source.peak});
  }
  return Outcome::Success();
}
