// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's meteors, satellites and aeroplanes (--events), as the station keeps and tells them:
// each new analysed frame's streaks, found against the frame before, are decided when the next
// frame comes; a meteor (with --events all, every streak) is kept in the night folder as
// events/hhmmss.jpg, the picture with a thin box round it, and a line of events.json; it goes to
// the channels that take events, and {METEORS} counts tonight's.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QImage>
#include <QJsonObject>

#include "night/night_folder.h"
#include "sky/streak_finder.h"
#include "sky/trail_classifier.h"

class StationAlerts;


/// What the cycle knows of the frame just analysed.
struct EventFrame {
  const SkyImage* signal = nullptr;  // the sky's signal; nothing where the analysis failed
  uint64_t digest = 0;               // the frame's data: one seen before is no new frame
  QImage picture;                    // the picture published for it
  double picture_scale = 1;          // picture pixels per frame pixel
  QDateTime when;
  std::optional<std::string> night_folder;  // where the night is kept, if it is
};

class EventStation {
 public:
  void Configure(const EventSettings& settings) { settings_ = settings; }
  bool enabled() const { return settings_.enabled; }

  /// The cycle's frame. Lines for the log; the events decided go to `alerts` where given.
  std::vector<std::string> Frame(const EventFrame& frame, StationAlerts* alerts);
  /// No frame this cycle: what waited is decided with what is known.
  std::vector<std::string> NoFrame(StationAlerts* alerts);
  /// Meteors decided in the last call.
  int new_meteors() const { return new_meteors_; }
  /// {METEORS}: tonight's meteors; empty without --events.
  std::string OverlayValue() const;

 private:
  struct Waiting {
    uint64_t number = 0;
    QImage picture;
    double picture_scale = 1;
    QDateTime when;
    std::optional<std::string> night_folder;
  };
  std::vector<std::string> Keep(const std::vector<TrailEvent>& events, StationAlerts* alerts);
  QJsonObject EventJson(const TrailEvent& event, const Waiting& frame) const;

  EventSettings settings_;
  StreakFinder finder_;
  TrailClassifier classifier_;
  std::optional<uint64_t> last_digest_;
  uint64_t number_ = 0;
  std::vector<Waiting> waiting_;  // the frame whose streaks wait for the next one
  int new_meteors_ = 0;
  int meteors_tonight_ = 0;
  std::string tonight_;  // the evening's date the count is for
};

/// The picture with a thin box round the streak.
QImage EventPicture(const QImage& picture, const Streak& streak, double scale);
