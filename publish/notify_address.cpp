// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/notify_address.h"

#include <charconv>

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "host", "host:port" or "[::1]:port" into the host and the port (`port` kept where none is given).
bool SplitHost(const std::string& authority, std::string& host, int& port) {
  std::string rest;
  if (StartsWith(authority, "[")) {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string::npos ? std::string() : authority.substr(colon);
  }
  if (host.empty()) return false;
  for (const char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@' || c == '?' || c == '#') return false;
  if (rest.empty()) return true;
  if (rest[0] != ':' || rest.size() == 1) return false;
  const auto [end, error] = std::from_chars(rest.data() + 1, rest.data() + rest.size(), port);
  return error == std::errc() && end == rest.data() + rest.size() && port >= 1 && port <= 65535;
}

}  // namespace

std::optional<NotifyAddress> ParseNotifyAddress(const std::string& text, std::string& why) {
  NotifyAddress address;
  address.text = text;
  const std::string lower = [&] {
    std::string l = text.substr(0, std::min<size_t>(text.size(), 8));
    for (char& c : l) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return l;
  }();
  if (StartsWith(lower, "exec:")) {
    address.kind = NotifyAddress::Kind::kProgram;
    address.program = text.substr(5);
    const bool absolute = StartsWith(address.program, "/") ||
                          (address.program.size() > 2 && address.program[1] == ':' &&
                           (address.program[2] == '\\' || address.program[2] == '/'));
    if (!absolute) {
      why = "exec: takes the program's absolute path, not \"" + text + "\"";
      return std::nullopt;
    }
    return address;
  }
  const bool smtp = StartsWith(lower, "smtp://"), smtps = StartsWith(lower, "smtps://");
  const bool mqtt = StartsWith(lower, "mqtt://"), mqtts = StartsWith(lower, "mqtts://");
  if (!smtp && !smtps && !mqtt && !mqtts) {
    why = "--notify takes smtp://, smtps://, mqtt://, mqtts:// or exec:, not \"" + text + "\"";
    return std::nullopt;
  }
  std::string rest = text.substr(text.find("://") + 3);
  if (smtp || smtps) {
    address.kind = NotifyAddress::Kind::kMail;
    if (smtp && rest.size() >= 6 && rest.compare(rest.size() - 6, 6, "?plain") == 0) {
      address.mail.plain = true;
      rest.resize(rest.size() - 6);
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string host;
    int port = smtps ? 465 : 25;
    if (!SplitHost(rest, host, port)) {
      why = "--notify: no mail server's host[:port] in \"" + text + "\"";
      return std::nullopt;
    }
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    address.mail.url = (smtps ? "smtps://" : "smtp://") + shown + ":" + std::to_string(port);
    return address;
  }
  address.kind = NotifyAddress::Kind::kMqtt;
  const size_t slash = rest.find('/');
  const std::string prefix = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
  address.mqtt.tls = mqtts;
  address.mqtt.port = mqtts ? 8883 : 1883;
  if (!SplitHost(rest.substr(0, slash), address.mqtt.host, address.mqtt.port)) {
    why = "--notify: no broker's host[:port] in \"" + text + "\"";
    return std::nullopt;
  }
  // A topic prefix with wildcards or a NUL cannot be published to.
  if (prefix.empty() || prefix.back() == '/' || prefix.find_first_of(std::string("+#\0", 3)) != std::string::npos) {
    why = "--notify: an MQTT address ends in /TOPIC-PREFIX without + or #, not \"" + text + "\"";
    return std::nullopt;
  }
  address.mqtt.prefix = prefix;
  return address;
}
