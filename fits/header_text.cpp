#include "fits/header_text.h"

#include "fits/fits_format.h"

namespace {

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::optional<std::string> HeaderValueText(const FrameStore& store, std::string_view keyword) {
  std::string padded(keyword.substr(0, fits_format::kKeywordLength));
  padded.resize(fits_format::kKeywordLength, ' ');
  for (int i = 1; i <= store.HeaderCardCount && i < static_cast<int>(store.HeaderCards.size()); ++i) {
    const std::string_view card = store.HeaderCards[i];
    if (card.size() < 10 || card.substr(0, 8) != padded || card.substr(8, 2) != "= ") continue;
    std::string_view value = card.substr(10);
    std::string text;
    const size_t open = value.find_first_not_of(' ');
    if (open != std::string_view::npos && value[open] == '\'') {
      // A FITS string: '' inside stands for one quote, and trailing blanks do not count.
      for (size_t at = open + 1; at < value.size(); ++at) {
        if (value[at] != '\'') text += value[at];
        else if (at + 1 < value.size() && value[at + 1] == '\'') text += value[++at];
        else break;
      }
      text = Trim(text);
    } else {
      text = Trim(value.substr(0, value.find('/')));
    }
    if (text.empty()) return std::nullopt;
    return text;
  }
  return std::nullopt;
}
