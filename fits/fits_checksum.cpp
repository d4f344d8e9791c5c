// SPDX-License-Identifier: GPL-3.0-or-later
#include "fits/fits_checksum.h"

#include <cstring>
#include <string_view>

#include "fits/fits_format.h"

namespace fits_checksum {

namespace {

using fits_format::kCardLength;

// A card "KEYWORD = 'value'" with a comment, as the convention writes them.
void PutCard(uint8_t* card, std::string_view keyword, const std::string& value, std::string_view comment) {
  std::string text(keyword);
  text.resize(8, ' ');
  text += "= '" + value + "'";
  if (text.size() < 30) text.resize(30, ' ');
  text += " / ";
  text += comment;
  text.resize(kCardLength, ' ');
  std::memcpy(card, text.data(), kCardLength);
}

uint8_t* FindCard(uint8_t* header, size_t header_bytes, std::string_view keyword) {
  for (size_t at = 0; at + kCardLength <= header_bytes; at += kCardLength) {
    const std::string_view card(reinterpret_cast<const char*>(header + at), kCardLength);
    if (fits_format::IsEndCard(card) && card.substr(0, 8) == "END     ") return nullptr;
    if (card.substr(0, 8) == keyword) return header + at;
  }
  return nullptr;
}

}  // namespace

uint32_t Add(uint32_t a, uint32_t b) {
  const uint64_t sum = uint64_t{a} + b;
  return static_cast<uint32_t>((sum & 0xFFFFFFFFu) + (sum >> 32));  // the carry goes round
}

uint32_t Sum(const uint8_t* bytes, size_t size) {
  // Summed as 16-bit halves in 64 bits, folded once at the end: the same ones' complement sum.
  uint64_t high = 0, low = 0;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    high += (uint32_t{bytes[i]} << 8) | bytes[i + 1];
    low += (uint32_t{bytes[i + 2]} << 8) | bytes[i + 3];
  }
  uint64_t hi_carry = high >> 16, lo_carry = low >> 16;
  while (hi_carry | lo_carry) {
    high = (high & 0xFFFF) + lo_carry;
    low = (low & 0xFFFF) + hi_carry;
    hi_carry = high >> 16;
    lo_carry = low >> 16;
  }
  return static_cast<uint32_t>((high << 16) | low);
}

std::string Encode(uint32_t value) {
  // ASCII punctuation is avoided; the 4 x 4 characters are then rotated by one for FITS.
  static constexpr uint8_t kExcluded[] = {0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40,
                                          0x5b, 0x5c, 0x5d, 0x5e, 0x5f, 0x60};
  char ascii[16];
  for (int i = 0; i < 4; ++i) {
    const int byte = static_cast<int>((value >> (24 - 8 * i)) & 0xFF);
    int ch[4];
    for (int& c : ch) c = byte / 4 + '0';
    ch[0] += byte % 4;
    for (bool changed = true; changed;) {
      changed = false;
      for (const uint8_t excluded : kExcluded)
        for (int j = 0; j < 4; j += 2)
          if (ch[j] == excluded || ch[j + 1] == excluded) {
            ++ch[j];
            --ch[j + 1];
            changed = true;
          }
    }
    for (int j = 0; j < 4; ++j) ascii[4 * j + i] = static_cast<char>(ch[j]);
  }
  std::string text(16, ' ');
  for (int i = 0; i < 16; ++i) text[i] = ascii[(i + 15) % 16];
  return text;
}

void UpdateWithDataSum(uint8_t* header, size_t header_bytes, uint32_t data_sum) {
  uint8_t* checksum = FindCard(header, header_bytes, "CHECKSUM");
  uint8_t* datasum = FindCard(header, header_bytes, "DATASUM ");
  if (!checksum && !datasum) return;
  if (datasum) PutCard(datasum, "DATASUM", std::to_string(data_sum), "data unit checksum");
  if (!checksum) return;
  PutCard(checksum, "CHECKSUM", std::string(16, '0'), "HDU checksum");
  const uint32_t hdu_sum = Add(Sum(header, header_bytes), data_sum);
  PutCard(checksum, "CHECKSUM", Encode(~hdu_sum), "HDU checksum");
}

}  // namespace fits_checksum
