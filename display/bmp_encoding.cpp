#include "display/bmp_encoding.h"

#include <cstring>

namespace {

void Put(uint8_t*& at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) *at++ = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> EncodeBmp24(const QImage& image) {
  const uint32_t width = static_cast<uint32_t>(image.width()), height = static_cast<uint32_t>(image.height());
  const uint32_t row_bytes = (width * 3 + 3) / 4 * 4;
  constexpr uint32_t kHeaderBytes = 14 + 40;
  constexpr uint32_t kDotsPerMetre = 3780;  // 96 dots per inch
  std::vector<uint8_t> file(kHeaderBytes + row_bytes * height, 0);
  uint8_t* at = file.data();
  *at++ = 'B';
  *at++ = 'M';
  Put(at, static_cast<uint32_t>(file.size()), 4);
  Put(at, 0, 4);             // reserved
  Put(at, kHeaderBytes, 4);  // where the pixels start
  Put(at, 40, 4);            // BITMAPINFOHEADER
  Put(at, width, 4);
  Put(at, height, 4);  // positive: the last row first
  Put(at, 1, 2);       // planes
  Put(at, 24, 2);      // bits a pixel
  Put(at, 0, 4);       // no compression
  Put(at, row_bytes * height, 4);
  Put(at, kDotsPerMetre, 4);
  Put(at, kDotsPerMetre, 4);
  Put(at, 0, 4);  // colours used
  Put(at, 0, 4);  // colours important
  for (uint32_t y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(static_cast<int>(height - 1 - y)));
    uint8_t* out = file.data() + kHeaderBytes + static_cast<size_t>(row_bytes) * y;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t pixel = row[x];  // 0xFFRRGGBB
      *out++ = static_cast<uint8_t>(pixel);
      *out++ = static_cast<uint8_t>(pixel >> 8);
      *out++ = static_cast<uint8_t>(pixel >> 16);
    }
  }
  return file;
}
