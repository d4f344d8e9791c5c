#pragma once
// The one error convention of the libraries: success, or failure with a short lower-case reason.

#include <string>
#include <utility>

struct Outcome {
  bool ok = true;
  std::string reason;

  static Outcome Success() { return {}; }
  static Outcome Failure(std::string why) { return {false, std::move(why)}; }
};
