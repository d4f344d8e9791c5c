// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// --sqm-calibrate READING: on a clear night, with a hand-held meter's reading taken at the zenith,
// the station reads its live frame once and prints the zero point that makes that frame read the
// same. The line it prints can go into qor_live.conf as it stands.

#include <cstdio>

#include "app/command_line.h"

/// Reads the live file named by qor_live.ini (or the default), analyses it as the cycle would and
/// prints "sqm-zero-point = Z" to `out`; 0 where it could, 2 with the reason on `err` where not.
int CalibrateSqm(const CommandLine& options, std::FILE* out, std::FILE* err);
