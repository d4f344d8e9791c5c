// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When the observer is told (--alert RULE): each rule starts once when its condition becomes true
// and ends once when it is over. A rule that flaps starts at most once in the quiet time; the end
// of a condition whose start was sent is always sent. The clear and cloudy rules must hold for
// their minutes before they start, and fail as long before they end.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct AlertRule {
  enum class Kind { kStale, kUploadsFailing, kDiskLow, kClear, kCloudy, kMeteor };
  Kind kind = Kind::kStale;
  int cycles = 0;      // uploads-failing N
  double share = 0;    // clear F M, cloudy F M
  std::chrono::minutes lasting{0};
  std::string name;    // "stale", "uploads-failing", ...
  bool of_the_sky() const { return kind == Kind::kClear || kind == Kind::kCloudy || kind == Kind::kMeteor; }
};

/// "stale", "uploads-failing 3", "disk-low", "clear 0.8 30", "cloudy 0.2 15", "meteor"; or nothing
/// with the reason in `why`.
std::optional<AlertRule> ParseAlertRule(const std::string& text, std::string& why);

struct StationConditions {
  std::chrono::steady_clock::time_point now;
  bool stale = false;
  int uploads_failed_in_row = 0;
  bool disk_low = false;
  std::optional<double> clear;  // this frame's clear share; nothing where it was not measured
  int meteors = 0;              // meteors decided in this cycle
};

struct AlertChange {
  AlertRule rule;
  bool start = true;  // false: the condition is over
  int meteors = 0;    // a meteor alert: how many since the last one sent
};

class AlertRules {
 public:
  AlertRules() = default;
  AlertRules(std::vector<AlertRule> rules, std::chrono::minutes quiet);
  /// The alerts that this cycle's conditions call for.
  std::vector<AlertChange> Observe(const StationConditions& conditions);
  bool empty() const { return rules_.empty(); }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct State {
    bool active = false;
    bool start_sent = false;
    std::optional<TimePoint> holding_since;  // the condition true since
    std::optional<TimePoint> failing_since;  // false since
    std::optional<TimePoint> last_start;
    int meteors_held = 0;
  };
  /// True, false, or unknown (a clear share not measured) for `rule` now.
  static std::optional<bool> Holds(const AlertRule& rule, const StationConditions& conditions);
  bool QuietOver(const State& state, TimePoint now) const;

  std::vector<AlertRule> rules_;
  std::vector<State> states_;
  std::chrono::minutes quiet_{30};
};
