// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/star_field.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <unordered_map>

#include "sky/sky_circle.h"

std::vector<uint16_t> MakeStarField(const StarFieldOptions& options, StarFieldTruth& truth) {
  const int w = options.width, h = options.height;
  const SkyCircle circle = LargestCentredCircle(w, h);
  std::mt19937_64 layout(options.seed);
  std::mt19937_64 noise(options.seed * 7919 + options.frame + 1);
  std::uniform_real_distribution<double> unit(0, 1);
  truth = {};
  truth.sky_at_centre = options.sky;
  truth.noise = std::sqrt(options.sky);
  std::vector<double> sky(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double level = options.sky * (1 + options.gradient * (x - circle.cx) / w);
      // Outside the circle: the dark frame of a fisheye's corners.
      sky[static_cast<size_t>(x) + static_cast<size_t>(w) * y] = SectorOf(circle, x, y) < 0 ? 100 : level;
    }
  for (int i = 0; i < options.stars; ++i) {
    const double radius = (circle.r - 6) * std::sqrt(unit(layout)), angle = 2 * std::numbers::pi * unit(layout);
    double x = circle.cx + radius * std::cos(angle), y = circle.cy + radius * std::sin(angle);
    const double peak = options.least_peak * std::pow(options.most_peak / options.least_peak, unit(layout));
    const double fwhm = 2 + 2 * unit(layout);
    x += options.drift * options.frame;
    if (options.turn != 0) {
      const double a = options.turn * options.frame, dx = x - circle.cx, dy = y - circle.cy;
      x = circle.cx + dx * std::cos(a) - dy * std::sin(a);
      y = circle.cy + dx * std::sin(a) + dy * std::cos(a);
    }
    if (SectorOf(circle, x, y) < 0) continue;
    if (std::find(options.clouded_sectors.begin(), options.clouded_sectors.end(), SectorOf(circle, x, y)) !=
        options.clouded_sectors.end())
      continue;
    truth.stars.push_back({x, y, peak});
    std::uniform_real_distribution<double> flicker(-options.twinkle, options.twinkle);
    const double s = fwhm / 2.3548, amplitude = peak * truth.noise * (1 + (options.twinkle > 0 ? flicker(noise) : 0));
    const int reach = static_cast<int>(std::ceil(4 * s + 1));
    for (int py = std::max(0, static_cast<int>(y) - reach); py <= std::min(h - 1, static_cast<int>(y) + reach); ++py)
      for (int px = std::max(0, static_cast<int>(x) - reach); px <= std::min(w - 1, static_cast<int>(x) + reach); ++px) {
        const double d2 = (px - x) * (px - x) + (py - y) * (py - y);
        sky[static_cast<size_t>(px) + static_cast<size_t>(w) * py] += amplitude * std::exp(-d2 / (2 * s * s));
      }
  }
  for (const StarFieldOptions::Line& line : options.lines)
    for (const double offset : {0.0, line.twin}) {
      const double length = std::hypot(line.x2 - line.x1, line.y2 - line.y1);
      if (length <= 0) continue;
      const double ux = (line.x2 - line.x1) / length, uy = (line.y2 - line.y1) / length;
      const double ox = -uy * offset, oy = ux * offset, s = 2.5 / 2.3548;
      const int x0 = static_cast<int>(std::min(line.x1, line.x2) + std::min(ox, 0.0)) - 5, x9 = static_cast<int>(std::max(line.x1, line.x2) + std::max(ox, 0.0)) + 5;
      const int y0 = static_cast<int>(std::min(line.y1, line.y2) + std::min(oy, 0.0)) - 5, y9 = static_cast<int>(std::max(line.y1, line.y2) + std::max(oy, 0.0)) + 5;
      for (int py = std::max(0, y0); py <= std::min(h - 1, y9); ++py)
        for (int px = std::max(0, x0); px <= std::min(w - 1, x9); ++px) {
          const double dx = px - line.x1 - ox, dy = py - line.y1 - oy;
          const double along = std::clamp(dx * ux + dy * uy, 0.0, length);
          if (line.dash > 0 && std::fmod(along, line.dash) >= line.dash / 2) continue;
          const double d2 = std::pow(dx - along * ux, 2) + std::pow(dy - along * uy, 2);
          const size_t i = static_cast<size_t>(px) + static_cast<size_t>(w) * py;
          if (SectorOf(circle, px, py) >= 0) sky[i] += line.peak_sigma * std::sqrt(sky[i]) * std::exp(-d2 / (2 * s * s));
        }
      if (line.twin == 0) break;
    }
  std::vector<uint16_t> frame(sky.size());
  std::normal_distribution<double> gauss(0, 1);
  for (size_t i = 0; i < sky.size(); ++i) {
    const double value = sky[i] + std::sqrt(sky[i]) * gauss(noise);  // Poisson, as its normal limit
    frame[i] = static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
  }
  for (int i = 0; i < options.hot_pixels; ++i) {
    const int x = 2 + static_cast<int>(unit(layout) * (w - 4)), y = 2 + static_cast<int>(unit(layout) * (h - 4));
    const uint32_t cell = static_cast<uint32_t>(x + w * y);
    frame[cell] = static_cast<uint16_t>(std::min(65535.0, frame[cell] + 3000 + 20000 * unit(layout)));
    truth.hot.push_back(cell);
  }
  for (int i = 0; i < options.cosmic_rays; ++i) {
    const int x = 2 + static_cast<int>(unit(noise) * (w - 4)), y = 2 + static_cast<int>(unit(noise) * (h - 4));
    const double energy = 2000 + 30000 * unit(noise);
    frame[static_cast<size_t>(x) + static_cast<size_t>(w) * y] =
        static_cast<uint16_t>(std::min(65535.0, frame[static_cast<size_t>(x) + static_cast<size_t>(w) * y] + energy));
  }
  return frame;
}

StarMatch MatchStars(const StarFieldTruth& truth, const std::vector<std::pair<double, double>>& found, int width,
                     double least_sigma, double radius) {
  // A grid of 8-pixel cells for the true stars, so each match looks at its neighbourhood only.
  std::unordered_map<int64_t, std::vector<size_t>> grid;
  const auto key = [](double x, double y) { return (static_cast<int64_t>(y / 8) << 32) + static_cast<int64_t>(x / 8); };
  for (size_t i = 0; i < truth.stars.size(); ++i) grid[key(truth.stars[i].x, truth.stars[i].y)].push_back(i);
  std::vector<bool> matched(truth.stars.size(), false);
  StarMatch result;
  for (const auto& position : found) {
    const double fx = position.first, fy = position.second;  // lambdas take no structured bindings in clang 14
    bool near = false;
    for (int dy = -8; dy <= 8; dy += 8)
      for (int dx = -8; dx <= 8; dx += 8) {
        const auto cell = grid.find(key(fx + dx, fy + dy));
        if (cell == grid.end()) continue;
        for (const size_t i : cell->second)
          if (std::hypot(truth.stars[i].x - fx, truth.stars[i].y - fy) <= radius) matched[i] = near = true;
      }
    if (near) continue;
    const bool hot = std::any_of(truth.hot.begin(), truth.hot.end(), [&](uint32_t c) {
      return std::hypot(static_cast<double>(c % static_cast<uint32_t>(width)) - fx, static_cast<double>(c / static_cast<uint32_t>(width)) - fy) <= 1.5;
    });
    ++(hot ? result.on_hot : result.spurious);
  }
  for (size_t i = 0; i < truth.stars.size(); ++i)
    if (truth.stars[i].peak_sigma >= least_sigma) {
      ++result.wanted;
      result.wanted_found += matched[i] ? 1 : 0;
    }
  return result;
}
