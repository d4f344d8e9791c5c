// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Settings written by the design's Windows program in Japan are in Shift-JIS (code page 932).

#include <optional>
#include <string>

#include <QString>

/// The text whose Shift-JIS bytes are exactly `bytes`, or nothing. A converter drops some bytes
/// it cannot map without saying so: only a text that encodes back to the same bytes is taken.
std::optional<QString> ExactShiftJis(const std::string& bytes);
