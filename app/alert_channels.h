// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ways an alert reaches the observer: a mail, an MQTT message, a program of the observer's.
// Each delivery is bounded in time and says plainly why it failed; the delivery thread owns them.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <QByteArray>
#include <QJsonObject>

#include "base/outcome.h"
#include "publish/notify_address.h"

class AlertChannel {
 public:
  virtual ~AlertChannel() = default;
  /// The --notify text that names it in the outbox and the log.
  virtual const std::string& name() const = 0;
  /// Delivers `message`, with `picture` (JPEG bytes) where it carries one.
  virtual Outcome Deliver(const QJsonObject& message, const QByteArray& picture) = 0;
  /// True where the night's events go too, not only the alerts (MQTT's PREFIX/event).
  virtual bool TakesEvents() const { return false; }
  /// The station's state, for channels that keep one (MQTT's retained state).
  virtual Outcome PublishState(const std::string& json) { (void)json; return Outcome::Success(); }
  /// Between deliveries: a connection held open is kept alive.
  virtual void Keep() {}
  /// The station stops: say so where the channel can.
  virtual void Close() {}
};

/// Login, recipients and trust shared by the channels.
struct ChannelSettings {
  std::string user, password;
  std::string from = "qor-live@localhost";
  std::vector<std::string> to;
  std::string ca_file;  // tests: an authority of their own
  std::chrono::seconds program_bound{20};
};

std::unique_ptr<AlertChannel> MakeAlertChannel(const NotifyAddress& address, const ChannelSettings& settings);

/// The mail's subject and text for `message`.
std::string AlertSubject(const QJsonObject& message);
std::string AlertText(const QJsonObject& message);
