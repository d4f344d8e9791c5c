// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/picture_size.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "display/picture_surface.h"

namespace {

bool ParseSide(std::string_view text, int& side) {
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), side);
  return !text.empty() && failure == std::errc() && end == text.data() + text.size() && side >= 1 && side <= 16384;
}

}  // namespace

std::optional<PictureSize> PictureSize::Parse(const std::string& text) {
  if (text == "fit") return PictureSize{Kind::kFit};
  if (text == "frame") return PictureSize{Kind::kFrame};
  const size_t x = text.find('x');
  PictureSize box{Kind::kBox};
  if (x == std::string::npos || !ParseSide(std::string_view(text).substr(0, x), box.width) ||
      !ParseSide(std::string_view(text).substr(x + 1), box.height))
    return std::nullopt;
  return box;
}

PixelSize PicturePixels(const PictureSize& size, PixelSize frame) {
  if (size.design()) return {PictureSurface::kWidth, PictureSurface::kHeight};
  if (frame.width < 1 || frame.height < 1) return {1, 1};
  PixelSize box = {PictureSurface::kWidth, PictureSurface::kHeight};
  if (size.kind == PictureSize::Kind::kFrame) box = frame;
  if (size.kind == PictureSize::Kind::kBox) box = {size.width, size.height};
  const double scale = std::min({1.0, static_cast<double>(box.width) / frame.width,
                                 static_cast<double>(box.height) / frame.height});
  const auto side = [scale](int pixels, int most) {
    return std::clamp(static_cast<int>(std::lround(pixels * scale)), 1, most);
  };
  return {side(frame.width, box.width), side(frame.height, box.height)};
}
