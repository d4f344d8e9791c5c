#include "fits/text_numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double NumericValueOfText(std::string_view text) {
  // Collect the characters that form the number, dropping skipped blanks, then convert the clean
  // text once. The states follow the grammar: sign, mantissa, exponent marker, exponent sign, digits.
  std::string clean;
  enum class Part { kSign, kMantissa, kExponentSign, kExponentDigits } part = Part::kSign;
  bool seen_point = false;
  bool mantissa_has_digit = false;
  bool exponent_negative = false;
  bool exponent_has_digit = false;
  size_t exponent_at = std::string::npos;

  for (char c : text) {
    if (IsSkipped(c)) continue;
    if (part == Part::kSign) {
      part = Part::kMantissa;
      if (c == '+' || c == '-') {
        if (c == '-') clean += '-';
        continue;
      }
    }
    if (part == Part::kMantissa) {
      if (IsDigit(c)) {
        clean += c;
        mantissa_has_digit = true;
        continue;
      }
      if (c == '.' && !seen_point) {
        clean += '.';
        seen_point = true;
        continue;
      }
      if ((c == 'E' || c == 'e' || c == 'D' || c == 'd') && mantissa_has_digit) {
        exponent_at = clean.size();
        clean += 'e';
        part = Part::kExponentSign;
        continue;
      }
      break;
    }
    if (part == Part::kExponentSign) {
      part = Part::kExponentDigits;
      if (c == '+' || c == '-') {
        exponent_negative = c == '-';
        clean += c;
        continue;
      }
    }
    if (IsDigit(c)) {
      clean += c;
      exponent_has_digit = true;
      continue;
    }
    break;
  }

  if (!mantissa_has_digit) return 0.0;
  if (exponent_at != std::string::npos && !exponent_has_digit) clean.resize(exponent_at);

  const char* first = clean.data();
  const char* last = clean.data() + clean.size();
  const bool negative = *first == '-';
  if (negative) ++first;
  double value = 0.0;
  auto [end, error] = std::from_chars(first, last, value);
  if (error == std::errc::result_out_of_range) {
    value = exponent_negative ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (error != std::errc()) {
    value = 0.0;
  }
  (void)end;
  return negative ? -value : value;
}

std::string ShortestDecimal(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, 15);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

std::string NumberAsText(double value) {
  std::string text = ShortestDecimal(value);
  if (value >= 0 || std::isnan(value)) text.insert(text.begin(), ' ');
  return text;
}

int32_t SaturateToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}
