// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The station's link to an MQTT broker (libmosquitto): the retained state on PREFIX/state,
// alerts and events on PREFIX/alert and PREFIX/event, each confirmed by the broker (QoS 1), and a
// last will that marks the station offline when it vanishes. Every call is bounded; the link
// belongs to one thread, which calls Keep now and then to hold the connection.

#include <chrono>
#include <memory>
#include <string>

#include "base/outcome.h"

struct MqttServer {
  std::string host;
  int port = 1883;
  bool tls = false;    // mqtts://: the broker's certificate checked
  std::string prefix;  // topics are PREFIX/state, PREFIX/alert, PREFIX/event
  std::string user, password;
  std::string ca_file;  // an authority to trust instead of the system's (tests)
  std::string client_id = "qor-live";
  std::chrono::seconds bound{10};  // a connection, or one message's confirmation
};

/// What stands retained on PREFIX/state once the station has vanished or stopped.
inline constexpr const char* kOfflineState = "{\"online\":false}";

class MqttLink {
 public:
  explicit MqttLink(MqttServer server);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  /// Connects where the link is down; otherwise lets the keep-alive run for up to `wait`.
  Outcome Keep(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  /// Sends `payload` to PREFIX/`topic` and waits for the broker's confirmation.
  Outcome Publish(const std::string& topic, const std::string& payload, bool retained);
  /// Says the station is offline and closes the link (a clean stop sends no will).
  void Close();
  bool connected() const;
  const MqttServer& server() const { return server_; }

 private:
  struct Impl;
  MqttServer server_;
  std::unique_ptr<Impl> impl_;
};
