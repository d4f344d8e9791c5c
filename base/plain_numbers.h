// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Numbers in files and headers are written with a point, whatever the system's locale: Qt takes
// the system's locale for the C library, and in a German one strtod reads "12.5" as 12 and printf
// writes 1000.5 as "1000,5". These never look at the locale.

#include <optional>
#include <string>
#include <string_view>

/// A finite decimal number as FITS and the station's files write it ("30", "30.", "-1.5E+02",
/// "+2"), the whole text; nothing otherwise.
std::optional<double> ParsePlainNumber(std::string_view text);
/// `value` with `decimals` digits after the point.
std::string PlainFixed(double value, int decimals);
