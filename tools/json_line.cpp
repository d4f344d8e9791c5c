#include "tools/json_line.h"

#include <cmath>
#include <cstdio>

#include "fits/text_numbers.h"

void JsonLine::Key(std::string_view key) {
  if (body_.size() > 1) body_ += ", ";
  body_ += '"';
  body_ += key;
  body_ += "\": ";
}

JsonLine& JsonLine::Text(std::string_view key, std::string_view value) {
  Key(key);
  body_ += '"';
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      body_ += '\\';
      body_ += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      body_ += escaped;
    } else {
      body_ += static_cast<char>(c);
    }
  }
  body_ += '"';
  return *this;
}

JsonLine& JsonLine::Number(std::string_view key, double value) {
  Key(key);
  body_ += std::isfinite(value) ? ShortestDecimal(value) : "null";
  return *this;
}
