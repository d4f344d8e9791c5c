// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/dark_frame.h"


#include <algorithm>
#include <string_view>

#include "base/plain_numbers.h"
#include "base/regular_file.h"
#include "fits/fits_format.h"
#include "fits/fits_reader.h"
#include "fits/header_text.h"

namespace {

class KeptError : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string& message) override { text = message; }
  std::string text;
};

}  // namespace

std::optional<FitsSize> FitsFrameSize(const std::string& path) {
  RegularFile file;
  if (!file.Open(path).ok) return std::nullopt;
  std::optional<double> width, height;
  std::string block(fits_format::kHeaderBlockBytes, ' ');
  // A header of up to 36 blocks (the reader's limit of 500 cards and more); a FIFO is refused by
  // Open, never waited on.
  for (uint64_t at = 0; at < 36 * block.size(); at += block.size()) {
    if (!file.ReadAt(at, block.data(), block.size()).ok) return std::nullopt;
    for (size_t card = 0; card < block.size(); card += fits_format::kCardLength) {
      const std::string_view text(block.data() + card, fits_format::kCardLength);
      if (text.substr(0, 8) == "END     ") {
        if (!width || !height || *width < 1 || *height < 1 || *width > 1e6 || *height > 1e6) return std::nullopt;
        return FitsSize{static_cast<int>(*width), static_cast<int>(*height)};
      }
      if (text.substr(8, 2) != "= ") continue;
      std::string_view value = text.substr(10, 20);
      value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
      value = value.substr(0, value.find(' '));
      if (text.substr(0, 8) == "NAXIS1  ") width = ParsePlainNumber(value);
      if (text.substr(0, 8) == "NAXIS2  ") height = ParsePlainNumber(value);
    }
  }
  return std::nullopt;
}

std::optional<double> ExposureOf(const FrameStore& store) {
  if (store.HeaderCardCount <= 0) return std::nullopt;
  const std::optional<std::string> text = HeaderValueText(store, "EXPTIME");
  const std::optional<double> value = text ? ParsePlainNumber(*text) : std::nullopt;
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

Outcome LoadDarkFrame(const std::string& path, DarkFrame& dark) {
  FrameStore store;
  store.LiveFilePath = path;
  store.LargeFrames = true;
  FrameReader reader;
  reader.set_colour_planes(true);
  KeptError error;
  const ReadResult read = reader.ReadLiveFrame(store, error);
  if (read.status == ReadStatus::kFileError) return Outcome::Failure(read.message);
  if (read.status == ReadStatus::kHeaderError) return Outcome::Failure(error.text);
  if (store.ColourPlaneCount > 0) return Outcome::Failure("a dark of colour planes; a dark has one plane");
  const FrameExtent extent = WalkableExtent(store);
  if (extent.width <= 0 || extent.height <= 0) return Outcome::Failure("a dark without pixels");
  dark.width = extent.width;
  dark.height = extent.height;
  dark.values.assign(static_cast<size_t>(extent.width) * extent.height, 0.0f);
  for (int y = 0; y < extent.height; ++y)
    for (int x = 0; x < extent.width; ++x)
      dark.values[static_cast<size_t>(x) + static_cast<size_t>(extent.width) * y] =
          static_cast<float>(store.Pixel(x, y));
  dark.exposure = ExposureOf(store);
  return Outcome::Success();
}

double DarkScale(const DarkFrame& dark, const FrameStore& store) {
  const std::optional<double> frame = ExposureOf(store);
  return dark.exposure && frame ? *frame / *dark.exposure : 1.0;
}
