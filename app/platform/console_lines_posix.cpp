// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/console_lines.h"

void PrintLine(std::FILE* out, const std::string& line) {
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}
