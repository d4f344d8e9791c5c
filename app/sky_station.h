// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sky's condition as the station keeps and tells it: the analyser, its clear-sky reference in
// the working folder, and what the report, the overlay, the night's sky.csv and the window's
// tooltip say of the last frame. Without --sky, --dark and --hot-pixels it does nothing at all.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QString>

#include "sky/sky_analyser.h"

class SkyStation {
 public:
  /// Takes the settings, reads the dark and the reference (a damaged one is said in `notes` and
  /// learned afresh). Refused where the dark cannot be used.
  Outcome Configure(const SkySettings& settings, std::vector<std::string>& notes);
  bool active() const { return analyser_.settings().active(); }
  bool enabled() const { return analyser_.settings().enabled; }

  /// Before the picture is drawn: the corrections it shows. Lines for the log.
  std::vector<std::string> Prepare(FrameStore& store);
  /// Once the picture is out; runs beside the window: the sky analysed (--sky), or only the hot
  /// pixels learned (--hot-pixels remove alone). Lines for the log.
  std::vector<std::string> Analyse(FrameStore& store, uint64_t digest, const QDateTime& now);
  /// A cycle without a new readable frame: nothing is said of the sky until the next one.
  void NoFrame(const std::string& why);
  /// Before the archive: the frame as the camera wrote it.
  void Restore(FrameStore& store) { analyser_.Restore(store); }

  /// The last analysed frame's sky signal, where its analysis succeeded; nothing otherwise.
  const SkyImage* signal() const { return reading_.measured() ? &analyser_.signal() : nullptr; }
  /// The last frame's reading for live2.json; nothing without --sky.
  std::optional<SkyReading> Reading() const;
  /// {STARS}, {SQM} and {CLEAR} for the overlay; empty without --sky.
  std::map<std::string, std::string> OverlayValues() const;
  /// The night's sky.csv line of the last frame, taken at `when`; empty without --sky.
  std::string CsvLine(const QDateTime& when) const;
  /// One line for the window's tooltip; empty without --sky.
  QString Summary() const;

 private:
  SkyAnalyser analyser_;
  SkyReading reading_ = NotYet();
  std::string reference_path_ = "sky-reference.json";
  std::string last_failure_;  // said once, not every minute
  /// Before the first analysis there are no values: the overlay and the report must not say 0.
  static SkyReading NotYet() {
    SkyReading reading;
    reading.failure = "no frame analysed yet";
    return reading;
  }
};

/// The night a time belongs to: the date of the evening it began (noon to noon).
std::string EveningDate(const QDateTime& when);
