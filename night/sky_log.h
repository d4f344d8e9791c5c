// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's sky.csv (--sky with --night): one line for each kept picture, the sky's values of
// its frame, for the night's chart and for anyone who wants the numbers.

#include <optional>
#include <string>
#include <vector>

#include <QDateTime>

inline constexpr const char* kSkyLogName = "sky.csv";
inline constexpr const char* kSkyLogHeader = "time,stars,background,background_per_s,sqm,clear\n";

struct SkyLogLine {
  QDateTime time;
  std::optional<double> stars, background, background_per_s, sqm, clear;  // empty fields: nothing
};

/// The lines of `folder`'s sky.csv in the order written; lines that are not the station's
/// (a cut-short last line, an edited one) are passed over.
std::vector<SkyLogLine> ReadSkyLog(const std::string& folder);
