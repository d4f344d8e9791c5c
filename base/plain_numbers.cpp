// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/plain_numbers.h"

#include <charconv>
#include <cmath>

std::optional<double> ParsePlainNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string PlainFixed(double value, int decimals) {
  char text[64];
  const auto [end, failure] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return failure == std::errc() ? std::string(text, end) : std::string();
}
