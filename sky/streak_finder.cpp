// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/streak_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr float kLow = 1.0f;             // smoothed noise is a third of a pixel's: 3 of its sigmas
constexpr double kSeedShare = 0.45;      // a seed: 0.45 S smoothed, where a line of peak S gives 0.76 S
constexpr double kMostWidth = 2.0;       // a faint line's spread across itself, image pixels
constexpr double kMostBrightWidth = 4.0; // a fireball's: wider is a cloud's edge, not a streak
constexpr double kLeastPieceLength = 4;  // a piece that gives a direction
constexpr double kSureDirection = 10;    // a piece whose direction is known to a few degrees
constexpr double kOffLine = 2.0;         // how far a piece may lie from its line
constexpr double kMostGap = 16;          // between pieces along one line
constexpr float kBrighterBy = 1.5f;
constexpr int kReach = 3;              // how far a star may have moved since the frame before
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The 3 x 3 mean (pixels outside the circle count as 0); NaN where the centre is outside.
void Smooth(const std::vector<float>& in, int w, int h, std::vector<float>& rows, std::vector<float>& out) {
  rows.resize(in.size());
  out.resize(in.size());
  for (int y = 0; y < h; ++y) {
    const float* row = in.data() + static_cast<size_t>(y) * w;
    float* dst = rows.data() + static_cast<size_t>(y) * w;
    float left = 0, here = std::isnan(row[0]) ? 0.0f : row[0];
    for (int x = 0; x < w; ++x) {
      const float right = x + 1 < w && !std::isnan(row[x + 1]) ? row[x + 1] : 0.0f;
      dst[x] = left + here + right;
      left = here;
      here = right;
    }
  }
  for (int y = 0; y < h; ++y) {
    const float* up = rows.data() + static_cast<size_t>(std::max(y - 1, 0)) * w;
    const float* mid = rows.data() + static_cast<size_t>(y) * w;
    const float* down = rows.data() + static_cast<size_t>(std::min(y + 1, h - 1)) * w;
    const float up_share = y > 0 ? 1.0f : 0.0f, down_share = y + 1 < h ? 1.0f : 0.0f;
    const float* centre = in.data() + static_cast<size_t>(y) * w;
    float* dst = out.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x)
      dst[x] = std::isnan(centre[x]) ? kNaN : (up[x] * up_share + mid[x] + down[x] * down_share) * (1.0f / 9);
  }
}

// The brightest within kReach pixels each way (NaN taken as nothing): stars at the edge of a
// fisheye move up to 3.4 pixels a minute. Seven wide as three overlapping threes.
void Widen(const std::vector<float>& in, int w, int h, std::vector<float>& work, std::vector<float>& out) {
  static_assert(kReach == 3);
  constexpr float kNone = -std::numeric_limits<float>::infinity();
  work.resize(in.size());
  out.resize(in.size());
  std::vector<float> three(static_cast<size_t>(std::max(w, h)) + 4);
  const auto seven = [&](const float* src, size_t stride, int n, float* dst, size_t dst_stride) {
    for (int i = 0; i < n; ++i) {
      const float a = i > 0 ? src[(i - 1) * stride] : kNone, b = src[i * stride], c = i + 1 < n ? src[(i + 1) * stride] : kNone;
      three[static_cast<size_t>(i) + 2] = std::max(std::max(std::isnan(a) ? kNone : a, std::isnan(b) ? kNone : b), std::isnan(c) ? kNone : c);
    }
    three[0] = three[1] = three[static_cast<size_t>(n) + 2] = three[static_cast<size_t>(n) + 3] = kNone;
    for (int i = 0; i < n; ++i)
      dst[i * dst_stride] = std::max(std::max(three[static_cast<size_t>(i)], three[static_cast<size_t>(i) + 2]), three[static_cast<size_t>(i) + 4]);
  };
  for (int y = 0; y < h; ++y) seven(in.data() + static_cast<size_t>(y) * w, 1, w, work.data() + static_cast<size_t>(y) * w, 1);
  // Down the columns row by row, kind to the cache: the threes first, then three of them.
  std::vector<float>& threes = out;
  for (int y = 0; y < h; ++y) {
    const float* up = work.data() + static_cast<size_t>(std::max(y - 1, 0)) * w;
    const float* mid = work.data() + static_cast<size_t>(y) * w;
    const float* down = work.data() + static_cast<size_t>(std::min(y + 1, h - 1)) * w;
    float* dst = threes.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) dst[x] = std::max(std::max(up[x], mid[x]), down[x]);
  }
  work.swap(threes);  // work: the threes; out: free
  for (int y = 0; y < h; ++y) {
    const float* up = work.data() + static_cast<size_t>(std::max(y - 2, 0)) * w;
    const float* mid = work.data() + static_cast<size_t>(y) * w;
    const float* down = work.data() + static_cast<size_t>(std::min(y + 2, h - 1)) * w;
    float* dst = out.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) dst[x] = std::max(std::max(up[x], mid[x]), down[x]);
  }
}

struct Piece;
bool Thin(const Piece& piece);

struct Piece {
  std::vector<int32_t> pixels;  // indices into the image
  double cx = 0, cy = 0;        // centroid
  double ux = 1, uy = 0;        // its direction
  double low = 0, high = 0;     // its extent along the direction, from the centroid
  double spread = 0;            // its spread across the direction
  float peak = 0;
  int pieces = 1;
  bool doubled = false;
  double length() const { return high - low + 1; }
};

// The line through `pixels`: centroid, direction, extent and spread.
void Fit(Piece& piece, int w) {
  double sx = 0, sy = 0;
  for (const int32_t i : piece.pixels) {
    sx += i % w;
    sy += i / w;
  }
  const double n = static_cast<double>(piece.pixels.size());
  piece.cx = sx / n;
  piece.cy = sy / n;
  double xx = 0, yy = 0, xy = 0;
  for (const int32_t i : piece.pixels) {
    const double dx = i % w - piece.cx, dy = i / w - piece.cy;
    xx += dx * dx;
    yy += dy * dy;
    xy += dx * dy;
  }
  const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
  piece.ux = std::cos(angle);
  piece.uy = std::sin(angle);
  piece.low = std::numeric_limits<double>::max();
  piece.high = std::numeric_limits<double>::lowest();
  double across = 0;
  for (const int32_t i : piece.pixels) {
    const double dx = i % w - piece.cx, dy = i / w - piece.cy;
    const double along = dx * piece.ux + dy * piece.uy;
    const double off = -dx * piece.uy + dy * piece.ux;
    piece.low = std::min(piece.low, along);
    piece.high = std::max(piece.high, along);
    across += off * off;
  }
  piece.spread = std::sqrt(across / n);
}

// Narrow for its length: a bright line is wider than a faint one, a star as wide as it is long.
bool Thin(const Piece& piece) {
  return piece.spread <= std::max(kMostWidth, std::min(piece.length() / 12, kMostBrightWidth));
}

// True when the stretches begin at a steady beat: four or more (three stars in a row may happen
// to stand evenly), their spacing within 30 % of its mean.
bool Even(const std::vector<double>& starts) {
  if (starts.size() < 4) return false;
  double sum = 0, squares = 0;
  for (size_t i = 1; i < starts.size(); ++i) sum += starts[i] - starts[i - 1];
  const double n = static_cast<double>(starts.size() - 1), mean = sum / n;
  for (size_t i = 1; i < starts.size(); ++i) squares += std::pow(starts[i] - starts[i - 1] - mean, 2);
  return std::sqrt(squares / n) <= 0.3 * mean;
}

// Where `other` lies against `line`: its distance off the line and the gap along it.
bool OnLine(const Piece& line, const Piece& other) {
  const double dx = other.cx - line.cx, dy = other.cy - line.cy;
  const double off = std::abs(-dx * line.uy + dy * line.ux);
  if (off > kOffLine + other.spread) return false;
  // A short piece's own direction is too rough to judge by: only where it lies counts.
  if (other.length() >= kSureDirection && std::abs(other.ux * line.ux + other.uy * line.uy) < std::cos(5 * std::numbers::pi / 180))
    return false;
  const double along = dx * line.ux + dy * line.uy;
  const double half = other.length() / 2;
  const double gap = std::max(along - half - line.high, line.low - (along + half));
  return gap <= kMostGap;
}

}  // namespace

void StreakFinder::Forget() {
  wide_last_.clear();
  width_ = height_ = 0;
}

std::vector<Streak> StreakFinder::Find(const SkyImage& image, double sigma, int least_length) {
  const int w = image.width, h = image.height;
  const bool comparable = w == width_ && h == height_ && image.bin == bin_ && !wide_last_.empty();
  Smooth(image.pixels, w, h, work_, smooth_);
  std::swap(last_, wide_last_);
  Widen(smooth_, w, h, work_, wide_last_);
  const std::vector<float>& last = last_;
  width_ = w;
  height_ = h;
  bin_ = image.bin;
  std::vector<Streak> streaks;
  if (!comparable) return streaks;

  // What is new: brighter than anything near it in the frame before.
  const float seed = static_cast<float>(kSeedShare * sigma);
  const size_t count = static_cast<size_t>(w) * h;
  labels_.assign(count, 0);
  const auto fresh = [&](size_t i) {
    const float now = smooth_[i];
    if (!(now >= kLow)) return 0.0f;
    // A star's brightest pixel changes by a third when it moves by part of a pixel, and more when
    // it twinkles: only what is half as bright again as before, and brighter by the low mark, is new.
    const float before = std::max(last[i], 0.0f) * kBrighterBy;
    return now - before;
  };
  std::vector<Piece> pieces;
  std::vector<int32_t> stack;
  for (size_t start = 0; start < count; ++start) {
    if (labels_[start] != 0 || fresh(start) < seed) continue;
    // Grown from a seed through everything new above the low mark.
    Piece piece;
    const int32_t label = static_cast<int32_t>(pieces.size()) + 1;
    stack.assign(1, static_cast<int32_t>(start));
    labels_[start] = label;
    while (!stack.empty() && piece.pixels.size() < 200000) {
      const int32_t i = stack.back();
      stack.pop_back();
      piece.pixels.push_back(i);
      const int x = i % w, y = i / w;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          const size_t n = static_cast<size_t>(ny) * w + nx;
          if (labels_[n] != 0 || fresh(n) < kLow) continue;
          labels_[n] = label;
          stack.push_back(static_cast<int32_t>(n));
        }
    }
    Fit(piece, w);
    pieces.push_back(std::move(piece));
  }

  // Pieces along one line become one streak, the longest first.
  std::vector<size_t> order(pieces.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return pieces[a].length() > pieces[b].length(); });
  std::vector<bool> used(pieces.size(), false);
  std::vector<Piece> lines;
  for (const size_t first : order) {
    if (used[first] || pieces[first].length() < kLeastPieceLength || !Thin(pieces[first])) continue;
    used[first] = true;
    Piece line = pieces[first];
    for (bool grown = true; grown;) {
      grown = false;
      for (const size_t other : order) {
        if (used[other] || !OnLine(line, pieces[other])) continue;
        used[other] = true;
        line.pixels.insert(line.pixels.end(), pieces[other].pixels.begin(), pieces[other].pixels.end());
        ++line.pieces;
        Fit(line, w);
        grown = true;
      }
    }
    if (!Thin(line) || line.length() * bin_ < least_length) continue;
    lines.push_back(std::move(line));
  }

  // Along each line its signal: a blinking light leaves it dark in several places. Across it: two
  // lights side by side make two ridges.
  std::vector<bool> dashed(lines.size(), false), kept(lines.size(), true);
  for (size_t k = 0; k < lines.size(); ++k) {
    Piece& line = lines[k];
    std::vector<float> along, brightest;
    for (double t = line.low; t <= line.high; t += 1) {
      const int x = static_cast<int>(std::lround(line.cx + t * line.ux)), y = static_cast<int>(std::lround(line.cy + t * line.uy));
      float most = 0, pixel = 0;  // the ridge, wherever it lies within a pixel of the fitted line
      for (int o = -1; o <= 1; ++o) {
        const int px = static_cast<int>(std::lround(x - o * line.uy)), py = static_cast<int>(std::lround(y + o * line.ux));
        const size_t at = static_cast<size_t>(py) * w + px;
        if (px < 0 || py < 0 || px >= w || py >= h || std::isnan(smooth_[at])) continue;
        most = std::max(most, smooth_[at]);
        pixel = std::max(pixel, image.pixels[at]);
      }
      along.push_back(most);
      brightest.push_back(pixel);
    }
    std::vector<float> sorted = along;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() * 3 / 4), sorted.end());
    const float bright = sorted[sorted.size() * 3 / 4];
    int dark_runs = 0, dark = 0;
    std::vector<double> lit_starts;  // where each lit stretch begins
    for (size_t i = 0; i < along.size(); ++i) {
      const bool is_dark = along[i] < 0.35f * bright;
      dark += is_dark;
      dark_runs += is_dark && (i == 0 || along[i - 1] >= 0.35f * bright);
      if (!is_dark && (i == 0 || along[i - 1] < 0.35f * bright)) lit_starts.push_back(static_cast<double>(i));
    }
    const bool patchy = dark >= static_cast<int>(along.size() / 6);
    // Its brightest pixel, as one in ten along it: a star it crosses is not the streak's light.
    std::nth_element(brightest.begin(), brightest.begin() + static_cast<long>(brightest.size() * 9 / 10), brightest.end());
    line.peak = brightest[brightest.size() * 9 / 10];
    // A blinking light flashes at a steady beat: its dashes come evenly. Stars in a row that a
    // cloud's edge uncovers do not.
    dashed[k] = patchy && dark_runs >= 3 && Even(lit_starts);
    std::array<float, 25> across{};
    for (const int32_t i : line.pixels) {
      const double dx = i % w - line.cx, dy = i / w - line.cy;
      const int bin = static_cast<int>(std::lround(-dx * line.uy + dy * line.ux)) + 12;
      if (bin >= 0 && bin < 25 && !std::isnan(smooth_[static_cast<size_t>(i)])) across[static_cast<size_t>(bin)] += smooth_[static_cast<size_t>(i)];
    }
    // Two ridges at least three pixels apart with a dip between them to under 60 % of the lower.
    for (size_t a = 1; a + 1 < 25 && !line.doubled; ++a) {
      if (!(across[a] >= across[a - 1] && across[a] > across[a + 1])) continue;
      for (size_t b = a + 3; b + 1 < 25 && !line.doubled; ++b) {
        if (!(across[b] > across[b - 1] && across[b] >= across[b + 1])) continue;
        const float dip = *std::min_element(across.begin() + static_cast<long>(a), across.begin() + static_cast<long>(b));
        line.doubled = dip < 0.6f * std::min(across[a], across[b]);
      }
    }
    // A line dark in places is a line only as a row of several dashes: blobs that happen to lie
    // in a row (stars moved since the frame before) are none.
    kept[k] = line.peak >= sigma && (!patchy || (dashed[k] && line.pieces >= 3));
  }
  // Two lines side by side, parallel and overlapping: one aeroplane's two lights.
  for (size_t a = 0; a < lines.size(); ++a)
    for (size_t b = a + 1; b < lines.size(); ++b) {
      if (!kept[a] || !kept[b]) continue;
      const Piece &p = lines[a], &q = lines[b];
      if (std::abs(p.ux * q.ux + p.uy * q.uy) < std::cos(3 * std::numbers::pi / 180)) continue;
      const double dx = q.cx - p.cx, dy = q.cy - p.cy;
      const double off = std::abs(-dx * p.uy + dy * p.ux), along = dx * p.ux + dy * p.uy;
      const double overlap = std::min(p.high, along + q.length() / 2) - std::max(p.low, along - q.length() / 2);
      if (off < 2.5 || off > 15 || overlap < 0.5 * std::min(p.length(), q.length())) continue;
      lines[a].doubled = true;
      kept[b] = false;  // the twin is part of the same streak
    }

  const auto frame = [&](double v) { return (v + 0.5) * bin_ - 0.5; };
  for (size_t k = 0; k < lines.size(); ++k) {
    if (!kept[k]) continue;
    const Piece& line = lines[k];
    Streak streak;
    streak.x1 = frame(line.cx + line.low * line.ux);
    streak.y1 = frame(line.cy + line.low * line.uy);
    streak.x2 = frame(line.cx + line.high * line.ux);
    streak.y2 = frame(line.cy + line.high * line.uy);
    streak.length = std::hypot(streak.x2 - streak.x1, streak.y2 - streak.y1) + bin_;
    streak.peak = line.peak;
    streak.dashed = dashed[k];
    streak.doubled = line.doubled;
    streak.level = LevelAlong(streak);
    streaks.push_back(streak);
  }
  // Pieces of one line that a star or a gap wider than the pieces' own split: one streak.
  for (bool joined = true; joined;) {
    joined = false;
    for (size_t a = 0; a < streaks.size() && !joined; ++a)
      for (size_t b = a + 1; b < streaks.size() && !joined; ++b) {
        if (!OnOneLine(streaks[a], streaks[b]) || SideBySide(streaks[a], streaks[b])) continue;  // twins stay two
        streaks[a] = Joined(streaks[a], streaks[b]);
        streaks[a].level = LevelAlong(streaks[a]);
        streaks.erase(streaks.begin() + static_cast<long>(b));
        joined = true;
      }
  }
  return streaks;
}

float StreakFinder::LevelAlong(const Streak& streak) const {
  if (smooth_.empty()) return 0;
  const auto image = [&](double v) { return (v + 0.5) / bin_ - 0.5; };
  const double x1 = image(streak.x1), y1 = image(streak.y1), x2 = image(streak.x2), y2 = image(streak.y2);
  const int steps = std::max(1, static_cast<int>(std::ceil(std::hypot(x2 - x1, y2 - y1))));
  std::vector<float> values;
  for (int s = 0; s <= steps; ++s) {
    const int x = static_cast<int>(std::lround(x1 + (x2 - x1) * s / steps));
    const int y = static_cast<int>(std::lround(y1 + (y2 - y1) * s / steps));
    if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
    const float value = smooth_[static_cast<size_t>(y) * width_ + x];
    if (!std::isnan(value)) values.push_back(value);
  }
  if (values.empty()) return 0;
  // The median: stars it crosses, or that a cloud uncovers along it, do not count.
  std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
  return values[values.size() / 2];
}
