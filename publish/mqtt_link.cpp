// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/mqtt_link.h"

#include <mutex>
#include <set>

#include <mosquitto.h>

namespace {

using Clock = std::chrono::steady_clock;

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

struct MqttLink::Impl {
  mosquitto* mosq = nullptr;
  bool connected = false;
  int refused = -1;         // the broker's CONNACK code where it said no
  std::set<int> confirmed;  // message ids the broker has confirmed
  int lost = MOSQ_ERR_SUCCESS;

  ~Impl() { Drop(); }
  void Drop() {
    if (mosq) mosquitto_destroy(mosq);
    mosq = nullptr;
    connected = false;
    confirmed.clear();
  }
  static Impl& Of(void* user) { return *static_cast<Impl*>(user); }
};

MqttLink::MqttLink(MqttServer server) : server_(std::move(server)), impl_(std::make_unique<Impl>()) { InitialiseOnce(); }

MqttLink::~MqttLink() { Close(); }

bool MqttLink::connected() const { return impl_->connected; }

Outcome MqttLink::Keep(std::chrono::milliseconds wait) {
  Impl& impl = *impl_;
  const std::string where = "MQTT " + server_.host + ":" + std::to_string(server_.port) + ": ";
  if (impl.connected) {
    const int looped = mosquitto_loop(impl.mosq, static_cast<int>(wait.count()), 1);
    if (looped == MOSQ_ERR_SUCCESS && impl.connected) return Outcome::Success();
    impl.Drop();
    return Outcome::Lost(looped, where + "the connection was lost: " + mosquitto_strerror(looped));
  }
  impl.Drop();
  impl.mosq = mosquitto_new(server_.client_id.c_str(), true, &impl);
  if (!impl.mosq) return Outcome::Failure(where + "libmosquitto could not begin");
  mosquitto_int_option(impl.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(impl.mosq, [](mosquitto*, void* user, int code) {
    Impl::Of(user).connected = code == 0;
    Impl::Of(user).refused = code;
  });
  mosquitto_disconnect_callback_set(impl.mosq, [](mosquitto*, void* user, int) { Impl::Of(user).connected = false; });
  mosquitto_publish_callback_set(impl.mosq, [](mosquitto*, void* user, int mid) { Impl::Of(user).confirmed.insert(mid); });
  const std::string state = server_.prefix + "/state";
  mosquitto_will_set(impl.mosq, state.c_str(), static_cast<int>(std::char_traits<char>::length(kOfflineState)),
                     kOfflineState, 1, true);
  if (!server_.user.empty()) mosquitto_username_pw_set(impl.mosq, server_.user.c_str(), server_.password.c_str());
  if (server_.tls) {
    int set = MOSQ_ERR_SUCCESS;
    if (!server_.ca_file.empty()) set = mosquitto_tls_set(impl.mosq, server_.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    else set = mosquitto_int_option(impl.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    if (set != MOSQ_ERR_SUCCESS) return Outcome::Failure(where + "TLS not set up: " + mosquitto_strerror(set));
    mosquitto_tls_opts_set(impl.mosq, 1, nullptr, nullptr);  // the certificate must verify
  }
  impl.refused = -1;
  const int keepalive = 60;
  const int begun = mosquitto_connect_async(impl.mosq, server_.host.c_str(), server_.port, keepalive);
  if (begun != MOSQ_ERR_SUCCESS && begun != MOSQ_ERR_CONN_PENDING) {
    impl.Drop();
    return Outcome::Lost(begun, where + "no connection: " + mosquitto_strerror(begun));
  }
  const auto until = Clock::now() + server_.bound;
  while (!impl.connected && impl.refused < 0 && Clock::now() < until) {
    const int looped = mosquitto_loop(impl.mosq, 50, 1);
    if (impl.refused > 0) break;  // the broker answered the login with a no (its CONNACK's code)
    if (looped != MOSQ_ERR_SUCCESS && looped != MOSQ_ERR_CONN_PENDING) {
      impl.Drop();
      // A TLS handshake that failed (an unknown authority, a wrong name) ends here too.
      return Outcome::Lost(looped, where + "no connection: " + mosquitto_strerror(looped));
    }
  }
  if (impl.connected) return Outcome::Success();
  const int refused = impl.refused;
  impl.Drop();
  if (refused > 0) return Outcome::Refused(refused, where + "the broker refused the login: " + mosquitto_connack_string(refused));
  return Outcome::Lost(MOSQ_ERR_CONN_LOST, where + "no answer within " + std::to_string(server_.bound.count()) + " s");
}

Outcome MqttLink::Publish(const std::string& topic, const std::string& payload, bool retained) {
  if (const Outcome kept = Keep(); !kept.ok) return kept;
  Impl& impl = *impl_;
  const std::string full = server_.prefix + "/" + topic;
  int mid = 0;
  const int sent = mosquitto_publish(impl.mosq, &mid, full.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retained);
  if (sent != MOSQ_ERR_SUCCESS) {
    impl.Drop();
    return Outcome::Lost(sent, "MQTT: not sent: " + std::string(mosquitto_strerror(sent)));
  }
  const auto until = Clock::now() + server_.bound;
  while (!impl.confirmed.count(mid) && Clock::now() < until) {
    const int looped = mosquitto_loop(impl.mosq, 50, 1);
    if (looped != MOSQ_ERR_SUCCESS || !impl.connected) {
      impl.Drop();
      return Outcome::Lost(looped, "MQTT: the connection was lost before the broker confirmed");
    }
  }
  if (impl.confirmed.erase(mid)) return Outcome::Success();
  impl.Drop();
  return Outcome::Lost(MOSQ_ERR_CONN_LOST, "MQTT: the broker did not confirm within " + std::to_string(server_.bound.count()) + " s");
}

void MqttLink::Close() {
  if (impl_->connected) {
    Publish("state", kOfflineState, true);
    if (impl_->mosq) {
      mosquitto_disconnect(impl_->mosq);
      mosquitto_loop(impl_->mosq, 50, 1);
    }
  }
  impl_->Drop();
}
