// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/alert_rules.h"

#include <sstream>

#include "base/plain_numbers.h"

std::optional<AlertRule> ParseAlertRule(const std::string& text, std::string& why) {
  std::istringstream words(text);
  std::vector<std::string> parts;
  for (std::string word; words >> word;) parts.push_back(word);
  AlertRule rule;
  why.clear();
  const auto wrong = [&](const std::string& how) {
    why = "--alert " + how + ", not \"" + text + "\"";
    return std::nullopt;
  };
  if (parts.empty()) return wrong("needs a rule");
  rule.name = parts[0];
  const size_t arguments = parts.size() - 1;
  if (rule.name == "stale" || rule.name == "disk-low" || rule.name == "meteor") {
    if (arguments != 0) return wrong(rule.name + " takes nothing more");
    rule.kind = rule.name == "stale" ? AlertRule::Kind::kStale
                : rule.name == "disk-low" ? AlertRule::Kind::kDiskLow : AlertRule::Kind::kMeteor;
    return rule;
  }
  if (rule.name == "uploads-failing") {
    const std::optional<double> cycles = arguments == 1 ? ParsePlainNumber(parts[1]) : std::nullopt;
    if (!cycles || *cycles < 1 || *cycles > 10000 || *cycles != static_cast<int>(*cycles))
      return wrong("uploads-failing takes N, a whole number of cycles from 1");
    rule.kind = AlertRule::Kind::kUploadsFailing;
    rule.cycles = static_cast<int>(*cycles);
    return rule;
  }
  if (rule.name == "clear" || rule.name == "cloudy") {
    const std::optional<double> share = arguments == 2 ? ParsePlainNumber(parts[1]) : std::nullopt;
    const std::optional<double> minutes = arguments == 2 ? ParsePlainNumber(parts[2]) : std::nullopt;
    if (!share || !minutes || *share < 0 || *share > 1 || *minutes < 0 || *minutes > 1440 ||
        *minutes != static_cast<int>(*minutes))
      return wrong(rule.name + " takes F M: a share from 0 to 1 and whole minutes");
    rule.kind = rule.name == "clear" ? AlertRule::Kind::kClear : AlertRule::Kind::kCloudy;
    rule.share = *share;
    rule.lasting = std::chrono::minutes(static_cast<int>(*minutes));
    return rule;
  }
  return wrong("takes stale, uploads-failing N, disk-low, clear F M, cloudy F M or meteor");
}

AlertRules::AlertRules(std::vector<AlertRule> rules, std::chrono::minutes quiet)
    : rules_(std::move(rules)), states_(rules_.size()), quiet_(quiet) {}

std::optional<bool> AlertRules::Holds(const AlertRule& rule, const StationConditions& conditions) {
  switch (rule.kind) {
    case AlertRule::Kind::kStale: return conditions.stale;
    case AlertRule::Kind::kUploadsFailing: return conditions.uploads_failed_in_row >= rule.cycles;
    case AlertRule::Kind::kDiskLow: return conditions.disk_low;
    case AlertRule::Kind::kClear:
      if (!conditions.clear) return std::nullopt;
      return *conditions.clear >= rule.share;
    case AlertRule::Kind::kCloudy:
      if (!conditions.clear) return std::nullopt;
      return *conditions.clear <= rule.share;
    case AlertRule::Kind::kMeteor: return conditions.meteors > 0;
  }
  return false;
}

bool AlertRules::QuietOver(const State& state, TimePoint now) const {
  return !state.last_start || now - *state.last_start >= quiet_;
}

std::vector<AlertChange> AlertRules::Observe(const StationConditions& conditions) {
  std::vector<AlertChange> changes;
  const TimePoint now = conditions.now;
  for (size_t i = 0; i < rules_.size(); ++i) {
    const AlertRule& rule = rules_[i];
    State& state = states_[i];
    if (rule.kind == AlertRule::Kind::kMeteor) {
      // A moment, not a condition: the meteors of a quiet time go out together once it is over.
      state.meteors_held += conditions.meteors;
      if (state.meteors_held > 0 && QuietOver(state, now)) {
        changes.push_back({rule, true, state.meteors_held});
        state.meteors_held = 0;
        state.last_start = now;
      }
      continue;
    }
    const std::optional<bool> holds = Holds(rule, conditions);
    if (!holds) {  // an unmeasured frame breaks a run either way
      state.holding_since.reset();
      state.failing_since.reset();
      continue;
    }
    if (*holds) {
      state.failing_since.reset();
      if (!state.holding_since) state.holding_since = now;
      if (!state.active && now - *state.holding_since >= rule.lasting) {
        state.active = true;
        state.start_sent = QuietOver(state, now);
        if (state.start_sent) {
          state.last_start = now;
          changes.push_back({rule, true});
        }
      }
    } else {
      state.holding_since.reset();
      if (!state.failing_since) state.failing_since = now;
      if (state.active && now - *state.failing_since >= rule.lasting) {
        state.active = false;
        if (state.start_sent) changes.push_back({rule, false});
        state.start_sent = false;
      }
    }
  }
  return changes;
}
