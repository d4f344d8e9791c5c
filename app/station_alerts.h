// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live cycle's alerts (--alert, --notify): each cycle its conditions go through the rules,
// whatever they call for is queued in the outbox with what it carries (sky alerts the picture,
// station alerts the last log lines), the station's state goes to MQTT, and the night's events
// to the channels that take them. Delivery runs on its own thread: the cycle never waits for it.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

#include "app/alert_channels.h"
#include "app/alert_rules.h"
#include "publish/notify_address.h"

class AlertDelivery;

struct AlertSettings {
  std::vector<AlertRule> rules;          // --alert RULE
  std::vector<NotifyAddress> notify;     // --notify URL
  ChannelSettings channels;              // --notify-user, -password, -to, -from
  std::chrono::minutes quiet{30};        // --alert-quiet MINUTES
  std::string outbox = "alerts/outbox";  // where they wait
  bool any() const { return !rules.empty() || !notify.empty(); }
};

/// What the cycle knows when it asks.
struct AlertMoment {
  StationConditions conditions;
  std::string time;     // ISO 8601 with the offset
  std::string station;  // the site caption
  std::string stale_since;  // "21:03:00" where known
  QStringList log;      // the last lines of the station's log
  std::function<QByteArray()> picture;  // the published picture's bytes, read only when wanted
};

class StationAlerts {
 public:
  StationAlerts();
  ~StationAlerts();
  /// Takes the settings; the delivery thread runs while there is a channel.
  void Configure(const AlertSettings& settings);
  bool active() const { return delivery_ != nullptr; }

  /// The cycle's conditions: the alerts they call for are queued.
  void Observe(const AlertMoment& moment);
  /// The station's state (live2.json's bytes) for MQTT.
  void State(const QByteArray& json);
  /// One of the night's events, for the channels that take them.
  void Event(const QJsonObject& event, const QByteArray& picture);
  /// Lines for the log: what was queued and what delivery had to say.
  std::vector<std::string> TakeNotes();
  /// Ends delivery (bounded); what is still waiting stays in the outbox for the next start.
  void Stop();

 private:
  QJsonObject Message(const AlertChange& change, const AlertMoment& moment) const;

  AlertSettings settings_;
  AlertRules rules_;
  std::unique_ptr<AlertDelivery> delivery_;
  std::vector<std::string> notes_;
};

/// The text of an alert: what started or ended.
std::string AlertChangeText(const AlertChange& change, const std::string& stale_since);
