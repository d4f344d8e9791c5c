// SPDX-License-Identifier: GPL-3.0-or-later
// A build without libmosquitto: every MQTT delivery fails with the reason, so the alerts wait in
// the outbox for a station that can send them.
#include "publish/mqtt_link.h"

struct MqttLink::Impl {};

MqttLink::MqttLink(MqttServer server) : server_(std::move(server)), impl_(std::make_unique<Impl>()) {}
MqttLink::~MqttLink() = default;
bool MqttLink::connected() const { return false; }
Outcome MqttLink::Keep(std::chrono::milliseconds) {
  return Outcome::Failure("MQTT: this build of the station has no MQTT (libmosquitto was not found)");
}
Outcome MqttLink::Publish(const std::string&, const std::string&, bool) { return Keep(); }
void MqttLink::Close() {}
