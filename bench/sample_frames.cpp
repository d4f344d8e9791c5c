#include "bench/sample_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

std::vector<uint16_t> SkyFrame(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 40.0);
  std::uniform_real_distribution<double> place(0.0, 1.0);
  std::vector<double> sky(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      sky[static_cast<size_t>(y) * width + x] = 1200.0 + 0.05 * x + 0.03 * y + noise(random);
  for (int star = 0; star < 300; ++star) {
    const double cx = place(random) * width, cy = place(random) * height;
    const double peak = 500.0 + 40000.0 * std::pow(place(random), 3.0), sigma = 1.2 + place(random);
    for (int dy = -8; dy <= 8; ++dy)
      for (int dx = -8; dx <= 8; ++dx) {
        const int x = static_cast<int>(cx) + dx, y = static_cast<int>(cy) + dy;
        if (x < 0 || y < 0 || x >= width || y >= height) continue;
        const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        sky[static_cast<size_t>(y) * width + x] += peak * std::exp(-r2 / (2 * sigma * sigma));
      }
  }
  std::vector<uint16_t> frame(sky.size());
  for (size_t i = 0; i < sky.size(); ++i) frame[i] = static_cast<uint16_t>(std::clamp(sky[i], 0.0, 65535.0));
  return frame;
}

const char* FormatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::k8: return "8";
    case SampleFormat::k16: return "16";
    case SampleFormat::k16Unsigned: return "16u";
    case SampleFormat::k32: return "32";
    case SampleFormat::k32Unsigned: return "32u";
    case SampleFormat::kFloat: return "-32";
  }
  return "?";
}

std::string WriteSkyFits(const std::string& path, int width, int height, int bitpix) {
  return WriteSkyFits(path, width, height,
                      bitpix == 8 ? SampleFormat::k8 : bitpix == 16 ? SampleFormat::k16 : SampleFormat::k32);
}

std::string WriteSkyFits(const std::string& path, int width, int height, SampleFormat format) {
  const std::vector<uint16_t> sky = SkyFrame(width, height);
  std::string header;
  const auto card = [&header](const std::string& keyword, const std::string& value) {
    std::string c(80, ' ');
    c.replace(0, keyword.size(), keyword);
    if (!value.empty()) {
      c[8] = '=';
      c.replace(30 - value.size(), value.size(), value);
    }
    header += c;
  };
  const int bitpix = format == SampleFormat::k8 ? 8 : format == SampleFormat::k16 || format == SampleFormat::k16Unsigned ? 16
                     : format == SampleFormat::kFloat ? -32 : 32;
  card("SIMPLE", "T");
  card("BITPIX", std::to_string(bitpix));
  card("NAXIS", "2");
  card("NAXIS1", std::to_string(width));
  card("NAXIS2", std::to_string(height));
  if (format == SampleFormat::k16Unsigned) card("BZERO", "32768");
  if (format == SampleFormat::k32Unsigned) card("BZERO", "2147483648");
  card("END", "");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  std::vector<uint8_t> data;
  const int bytes = std::abs(bitpix) / 8;
  for (uint16_t v : sky) {
    uint32_t sample = 0;
    switch (format) {
      case SampleFormat::k8: sample = v >> 8; break;
      case SampleFormat::k16: sample = v; break;
      case SampleFormat::k16Unsigned: sample = static_cast<uint16_t>(v - 32768); break;
      case SampleFormat::k32: sample = uint32_t{v} * 16; break;
      case SampleFormat::k32Unsigned: sample = uint32_t{v} * 16 - 2147483648u; break;
      case SampleFormat::kFloat: {
        const float f = static_cast<float>(v) + 0.25f;
        std::memcpy(&sample, &f, 4);
        break;
      }
    }
    for (int i = bytes - 1; i >= 0; --i) data.push_back(static_cast<uint8_t>(sample >> (8 * i)));
  }
  data.resize((data.size() + 2879) / 2880 * 2880, 0);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  std::fwrite(header.data(), 1, header.size(), file);
  std::fwrite(data.data(), 1, data.size(), file);
  std::fclose(file);
  return path;
}
