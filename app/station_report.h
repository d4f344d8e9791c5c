#pragma once
// live2.json, uploaded beside live2.jpg after every cycle, so that the web page can tell its
// visitors how old the picture is and whether the camera or the station has gone quiet.

#include <optional>
#include <string>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "sky/sky_analyser.h"

inline constexpr const char* kReportFileName = "live2.json";

struct StationReport {
  QDateTime updated;                         // the cycle's local time
  std::optional<QDateTime> frame_changed;    // when the live frame last changed
  bool stale = false;
  QString status;                            // the cycle's status text after the upload
  int interval = 60;                         // seconds between cycles
  std::optional<std::string> frame_time;     // the header's DATE-OBS as written
  std::optional<SkyReading> sky;             // with --sky: the last frame's stars, darkness, clear share
};

/// The report as one JSON object; times in ISO 8601 with their offset, absent ones as null.
QByteArray StationReportJson(const StationReport& report);
