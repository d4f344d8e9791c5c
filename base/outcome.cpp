#include "base/outcome.h"

#include <cstring>

Outcome Outcome::FromErrno(const std::string& what, int error) {
  const Code code = error == ENOENT ? Code::kNotFound : Code::kSystem;
  return {false, code, error, what + ": " + std::strerror(error)};
}
