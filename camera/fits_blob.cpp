// SPDX-License-Identifier: GPL-3.0-or-later
#include "camera/fits_blob.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fits/fits_format.h"

namespace {

using namespace fits_format;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The value of a card "KEYWORD = value / comment", as text without the comment.
std::string_view ValueOf(std::string_view card) {
  if (card.size() < 10 || card[8] != '=') return {};
  std::string_view value = card.substr(10);
  if (const size_t slash = value.find('/'); slash != std::string_view::npos && value.find('\'') == std::string_view::npos)
    value = value.substr(0, slash);
  return Trimmed(value);
}

bool Whole(std::string_view text, int64_t& number) {
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
  return !text.empty() && failure == std::errc() && end == text.data() + text.size();
}

bool Real(std::string_view text, double& number) {
  std::string copy(text);
  std::replace(copy.begin(), copy.end(), 'D', 'E');  // FORTRAN's exponent
  const auto [end, failure] = std::from_chars(copy.data(), copy.data() + copy.size(), number);
  return !copy.empty() && failure == std::errc() && end == copy.data() + copy.size() && std::isfinite(number);
}

FitsBlob Refused(std::string why) {
  FitsBlob blob;
  blob.check = Outcome::Failure(std::move(why));
  return blob;
}

// One sample, big-endian as FITS keeps it, as a physical value.
double Sample(const uint8_t* at, int bitpix, double bzero, double bscale) {
  uint64_t bits = 0;
  const int bytes = std::abs(bitpix) / 8;
  for (int i = 0; i < bytes; ++i) bits = bits << 8 | at[i];
  double raw = 0;
  switch (bitpix) {
    case 8: raw = static_cast<double>(bits); break;
    case 16: raw = static_cast<int16_t>(bits); break;
    case 32: raw = static_cast<int32_t>(bits); break;
    case -32: {
      const uint32_t word = static_cast<uint32_t>(bits);
      float value;
      std::memcpy(&value, &word, sizeof value);
      raw = value;
      break;
    }
    default: {
      double value;
      std::memcpy(&value, &bits, sizeof value);
      raw = value;
    }
  }
  return bzero + bscale * raw;
}

// Full scale of a frame's samples: an unsigned range where BZERO shifts the signed one there.
double FullScale(int bitpix, double bzero) {
  switch (bitpix) {
    case 8: return 255;
    case 16: return bzero >= 32768 ? 65535 : 32767;
    case 32: return bzero >= 2147483648.0 ? 4294967295.0 : 2147483647.0;
    default: return 0;  // floating point: no full scale of its own
  }
}

}  // namespace

FitsBlob CheckFitsBlob(const uint8_t* data, size_t size, int side_limit, int64_t pixel_limit) {
  if (size < kHeaderBlockBytes || std::memcmp(data, "SIMPLE  =", 9) != 0)
    return Refused("not a FITS file (" + std::to_string(size) + " bytes that do not begin with SIMPLE)");
  std::map<std::string, std::string_view> values;
  size_t end_card = 0;
  for (size_t card = 0; card < static_cast<size_t>(kMaxHeaderCards); ++card) {
    if ((card + 1) * kCardLength > size) return Refused("truncated: the header ends after " + std::to_string(size) + " bytes");
    const std::string_view text(reinterpret_cast<const char*>(data) + card * kCardLength, kCardLength);
    if (IsEndCard(text)) {
      end_card = card + 1;
      break;
    }
    const std::string keyword(Trimmed(text.substr(0, kKeywordLength)));
    if (!values.count(keyword)) values[keyword] = ValueOf(text);
  }
  if (end_card == 0) return Refused("its header has no END within " + std::to_string(kMaxHeaderCards) + " cards");
  int64_t bitpix = 0, naxis = 0, width = 0, height = 0, planes = 1;
  if (!Whole(values["BITPIX"], bitpix) || (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64))
    return Refused("its BITPIX is not one of 8, 16, 32, -32, -64");
  if (!Whole(values["NAXIS"], naxis) || naxis < 2 || naxis > 3) return Refused("it is not a frame of two axes");
  if (!Whole(values["NAXIS1"], width) || !Whole(values["NAXIS2"], height) || width < 1 || height < 1)
    return Refused("its NAXIS1 and NAXIS2 are not whole numbers above 0");
  if (naxis == 3 && (!Whole(values["NAXIS3"], planes) || (planes != 1 && planes != 3)))
    return Refused("its third axis is neither one plane nor three colour planes");
  if (width > side_limit || height > side_limit || width * height > pixel_limit)
    return Refused("it claims " + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels, beyond the station's limit of " + std::to_string(side_limit) + " a side");
  const uint64_t header_bytes = RoundedCardCount(end_card) * kCardLength;
  const uint64_t data_bytes = static_cast<uint64_t>(width * height * planes) * static_cast<uint64_t>(std::abs(bitpix) / 8);
  if (size < header_bytes + data_bytes)
    return Refused("truncated: " + std::to_string(size) + " bytes of the " + std::to_string(header_bytes + data_bytes) +
                   " its header claims");

  FitsBlob blob;
  blob.width = static_cast<int>(width);
  blob.height = static_cast<int>(height);
  double bzero = 0, bscale = 1;
  if (values.count("BZERO") && !Real(values["BZERO"], bzero)) bzero = 0;
  if (values.count("BSCALE") && !Real(values["BSCALE"], bscale)) bscale = 1;
  // The median of a grid of samples over the first plane stands for the sky's background.
  const int bytes = static_cast<int>(std::abs(bitpix) / 8);
  std::vector<double> samples;
  constexpr int kGrid = 64;
  const int64_t step_x = std::max<int64_t>(1, width / kGrid), step_y = std::max<int64_t>(1, height / kGrid);
  for (int64_t y = step_y / 2; y < height; y += step_y)
    for (int64_t x = step_x / 2; x < width; x += step_x) {
      const double value = Sample(data + header_bytes + static_cast<uint64_t>(y * width + x) * bytes, static_cast<int>(bitpix), bzero, bscale);
      if (std::isfinite(value)) samples.push_back(value);
    }
  if (samples.empty()) return blob;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  const double median = samples[samples.size() / 2];
  double full = FullScale(static_cast<int>(bitpix), bzero);
  if (full == 0) full = *std::max_element(samples.begin(), samples.end()) <= 1 ? 1 : 65535;
  blob.background_level = std::clamp(median / full, 0.0, 1.0);
  return blob;
}
