// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A line of the station's UTF-8 text to its standard output, as the reader will see it.

#include <cstdio>
#include <string>

/// Writes `line` and a line break to `out` and flushes it. A failed write (a reader that has gone
/// away) is let pass: the station goes on all the same.
void PrintLine(std::FILE* out, const std::string& line);
