// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What "clear" means for each sector of this station's sky: the 90th percentile of the sector's
// star counts over the frames of the last 30 nights. A cloudy week lowers few of the counts near
// the top, so it does not teach the station that clouds are clear; a tree that grew into a sector
// lowers them all, and the sector follows. One compact histogram per sector and night.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sky/sky_circle.h"

class ClearReference {
 public:
  static constexpr int kNights = 30;
  static constexpr uint32_t kLeastFrames = 50;  // before this many, nothing is said of clear
  static constexpr double kPercentile = 0.9;
  static constexpr double kClearPart = 0.5;     // a sector is clear at half its reference

  struct Night {
    std::string date;  // YYYY-MM-DD, the evening's date
    uint32_t frames = 0;
    std::array<std::map<int, uint32_t>, kSkySectors> counts;  // per sector: histogram bin -> frames
  };

  /// The histogram's bin of a star count: one bin per count up to 63, then 32 bins per doubling.
  static int BinOf(int count);
  /// The smallest count of a bin.
  static int CountOf(int bin);

  /// Adds one frame's sector counts to the night `date` and lets go of the nights more than 30
  /// days before it.
  void Add(const std::string& date, const std::array<int, kSkySectors>& counts);
  /// The sector's reference count; nothing before kLeastFrames frames.
  std::optional<double> Reference(int sector) const;
  uint32_t frames() const;

  struct Verdict {
    std::optional<double> clear;                                // the clear sectors' share
    std::array<std::optional<bool>, kSkySectors> sectors{};     // nothing: cannot be told
  };
  /// Judges a frame's counts. A sector whose reference is below 2 stars (a wall, a tree, the
  /// ground) cannot be told and does not count in the share.
  Verdict Judge(const std::array<int, kSkySectors>& counts) const;

  const std::vector<Night>& nights() const { return nights_; }
  std::vector<Night>& nights() { return nights_; }

 private:
  std::vector<Night> nights_;  // oldest first
};

/// The day number of a YYYY-MM-DD date (days since 1970-01-01); nothing where it is not one.
std::optional<int64_t> DayNumber(const std::string& date);
