// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/clear_reference.h"

#include <algorithm>
#include <cmath>

std::optional<int64_t> DayNumber(const std::string& date) {
  int year = 0, month = 0, day = 0;
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (date[i] < '0' || date[i] > '9') return std::nullopt;
  year = std::stoi(date.substr(0, 4));
  month = std::stoi(date.substr(5, 2));
  day = std::stoi(date.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  // Days from the civil date (H. Hinnant's algorithm).
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int ClearReference::BinOf(int count) {
  if (count < 64) return std::max(count, 0);
  return 64 + static_cast<int>(32 * std::log2(count / 64.0));
}

int ClearReference::CountOf(int bin) {
  if (bin < 64) return bin;
  return static_cast<int>(std::ceil(64 * std::exp2((bin - 64) / 32.0)));
}

void ClearReference::Add(const std::string& date, const std::array<int, kSkySectors>& counts) {
  auto night = std::find_if(nights_.begin(), nights_.end(), [&](const Night& n) { return n.date == date; });
  if (night == nights_.end()) {
    nights_.push_back({date, 0, {}});
    std::sort(nights_.begin(), nights_.end(), [](const Night& a, const Night& b) { return a.date < b.date; });
    night = std::find_if(nights_.begin(), nights_.end(), [&](const Night& n) { return n.date == date; });
  }
  ++night->frames;
  for (int sector = 0; sector < kSkySectors; ++sector) ++night->counts[static_cast<size_t>(sector)][BinOf(counts[static_cast<size_t>(sector)])];
  const std::optional<int64_t> today = DayNumber(date);
  std::erase_if(nights_, [&](const Night& n) {
    const std::optional<int64_t> day = DayNumber(n.date);
    return !day || !today || *day <= *today - kNights || *day > *today;
  });
}

uint32_t ClearReference::frames() const {
  uint32_t total = 0;
  for (const Night& night : nights_) total += night.frames;
  return total;
}

std::optional<double> ClearReference::Reference(int sector) const {
  const uint32_t total = frames();
  if (total < kLeastFrames) return std::nullopt;
  std::map<int, uint32_t> merged;
  for (const Night& night : nights_)
    for (const auto& [bin, frames] : night.counts[static_cast<size_t>(sector)]) merged[bin] += frames;
  // The smallest count that at least 90 % of the frames do not exceed.
  const double wanted = std::ceil(kPercentile * total);
  uint32_t seen = 0;
  for (const auto& [bin, frames] : merged) {
    seen += frames;
    if (seen >= wanted) return CountOf(bin);
  }
  return std::nullopt;
}

ClearReference::Verdict ClearReference::Judge(const std::array<int, kSkySectors>& counts) const {
  Verdict verdict;
  int told = 0, clear = 0;
  for (int sector = 0; sector < kSkySectors; ++sector) {
    const std::optional<double> reference = Reference(sector);
    if (!reference || *reference < 2) continue;
    const bool is_clear = counts[static_cast<size_t>(sector)] >= kClearPart * *reference;
    verdict.sectors[static_cast<size_t>(sector)] = is_clear;
    ++told;
    clear += is_clear ? 1 : 0;
  }
  if (told > 0) verdict.clear = static_cast<double>(clear) / told;
  return verdict;
}
