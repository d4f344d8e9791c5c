#pragma once
// Builds one line of JSON, field after field, for the tools' output.

#include <string>
#include <string_view>

class JsonLine {
 public:
  JsonLine& Text(std::string_view key, std::string_view value);
  JsonLine& Number(std::string_view key, double value);
  std::string Finish() const { return body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_ = "{";
};
