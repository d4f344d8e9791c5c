#include "tests/support/fits_builder.h"

#include "tests/support/files.h"

std::string RawCard(const std::string& text) {
  std::string card = text;
  card.resize(80, ' ');
  return card;
}

std::string ValueCard(const std::string& keyword, const std::string& value) {
  std::string card(80, ' ');
  card.replace(0, keyword.size(), keyword);
  card[8] = '=';
  card.replace(30 - value.size(), value.size(), value);
  return card;
}

FitsBuilder FitsBuilder::Frame(int bitpix, int width, int height, std::vector<std::string> extra) {
  FitsBuilder b;
  b.cards = {ValueCard("SIMPLE", "T"), ValueCard("BITPIX", std::to_string(bitpix)),
             ValueCard("NAXIS", "2"), ValueCard("NAXIS1", std::to_string(width)),
             ValueCard("NAXIS2", std::to_string(height))};
  for (auto& card : extra) b.cards.push_back(card);
  b.cards.push_back(RawCard("END"));
  return b;
}

FitsBuilder& FitsBuilder::Samples(const std::vector<int64_t>& values, int bytes) {
  for (int64_t v : values) {
    const uint64_t u = static_cast<uint64_t>(v);
    for (int i = bytes - 1; i >= 0; --i) data.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  return *this;
}

std::vector<uint8_t> FitsBuilder::Bytes(bool pad_data) const {
  std::vector<uint8_t> out;
  for (const auto& card : cards) out.insert(out.end(), card.begin(), card.end());
  while (out.size() % 2880 != 0) out.push_back(' ');
  out.insert(out.end(), data.begin(), data.end());
  if (pad_data)
    while (out.size() % 2880 != 0) out.push_back(0);
  return out;
}

void FitsBuilder::Write(const std::string& path, bool pad_data) const { WriteBytes(path, Bytes(pad_data)); }
