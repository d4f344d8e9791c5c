// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's pictures (--night): each cycle's published JPEG, exactly as uploaded, is kept as
// nights/YYYY-MM-DD/hhmmss.jpg (night_folder.h says how nights and pictures are named). Beside it
// go the picture before lettering (.hhmmss.plain.jpg), for products that must not show the caption
// or time stamp, and the raw frame's background (.hhmmss.sky). A night's pictures are simply the
// picture files in its folder: a station restarted in mid-night carries on with the same folder,
// and no index can fall out of step. Every file is written under a temporary name and renamed in,
// so that a full disk or a crash never leaves a picture cut short, and a link planted at a name
// is replaced, never written through.
//
// With a site, pictures taken while the sun is above the chosen altitude are day pictures: they
// are published as always but not kept. A night ends at the first cycle of the next night's
// date, at the first cycle after the sun has risen above the altitude, or when publishing stops.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QDate>
#include <QDateTime>
#include <QImage>

#include "night/night_folder.h"
#include "night/sun_altitude.h"

struct NightOptions {
  bool enabled = false;      // --night
  std::optional<Site> site{};  // --site LAT,LON: day pictures are not kept
  double sun_altitude = -6;  // --sun-altitude DEG: above it, the sky is day
  int keep_nights = 14;      // --keep-nights N: the newest N night folders are kept
  int every = 0;             // --night-every N: the products remade every N pictures kept; 0: never
  int timelapse_fps = 25;    // --timelapse-fps N
  int timelapse_width = 1920;   // --timelapse-size WxH: the video fits within it
  int timelapse_height = 1080;
  bool sky = false;          // --sky: the nights have a sky.csv and a chart
};

class NightRecorder {
 public:
  /// Night folders go under `root` (relative to the working directory).
  explicit NightRecorder(std::string root = "nights") : root_(std::move(root)) {}

  void SetOptions(const NightOptions& options, uint64_t floor_mb) {
    options_ = options;
    floor_mb_ = floor_mb;
  }
  bool enabled() const { return options_.enabled; }

  /// What a cycle's picture did to the night: lines for the log, and the folder of a night that
  /// has just ended (its products are then due), if one did.
  struct Result {
    std::vector<std::string> notes;
    std::optional<std::string> ended;
    std::vector<std::string> pruned;  // the dates of the nights deleted
  };
  /// A cycle at `now` published the JPEG file `published`; `plain` is its picture before
  /// lettering, `background` its raw frame's sky background. Keeps them where it is night and the
  /// disk has room.
  /// `sky_line`, where given (--sky), goes into the night's sky.csv once the picture is kept.
  Result Record(const QDateTime& now, const std::string& published, const QImage& plain,
                std::optional<double> background = std::nullopt, const std::string& sky_line = {});
  /// The folder of the night being kept, if one is.
  std::optional<std::string> current_folder() const {
    return current_ ? std::optional(FolderOf(*current_)) : std::nullopt;
  }
  /// Publishing stops: the current night, if any, ends.
  std::optional<std::string> Stop();
  /// Deletes the oldest of the station's own night folders beyond the number to keep; returns
  /// what it deleted. The night being kept (else `tonight`) counts as the newest, whatever the
  /// dates of the others say (a clock once set a year ahead), and is never deleted; nor is a
  /// night whose products are not yet made and published. Called at start and whenever a night
  /// begins.
  std::vector<std::string> Prune(const QDate& tonight);

  /// The folder of `night`.
  std::string FolderOf(const QDate& night) const;
  /// True when the sun is above the day's altitude at `when` (never without a site).
  bool IsDay(const QDateTime& when) const;

 private:
  std::string root_;
  NightOptions options_;
  uint64_t floor_mb_ = 0;
  std::optional<QDate> current_;  // the night being kept
};
