// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/base64.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string EncodeBase64(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const auto byte = [&](size_t k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u; };
    const unsigned triple = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kBase64[triple >> 18 & 63];
    out += kBase64[triple >> 12 & 63];
    out += i + 1 < bytes.size() ? kBase64[triple >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[triple & 63] : '=';
  }
  return out;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  uint32_t bits = 0;
  int count = 0;
  size_t padding = 0;
  for (const char c : text) {
    if (c == '=') {
      ++padding;
      continue;
    }
    const char* at = std::find(kBase64, kBase64 + 64, c);
    if (at == kBase64 + 64 || padding > 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(at - kBase64);
    if (++count == 4) {
      bytes += static_cast<char>(bits >> 16);
      bytes += static_cast<char>(bits >> 8);
      bytes += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) bytes += static_cast<char>(bits >> 4);
  if (count == 3) {
    bytes += static_cast<char>(bits >> 10);
    bytes += static_cast<char>(bits >> 2);
  }
  return true;
}
