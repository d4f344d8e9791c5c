// SPDX-License-Identifier: GPL-3.0-or-later
#include "camera/indi_address.h"

#include <charconv>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

std::string IndiAddress::HostAndPort() const {
  const bool bracket = host.find(':') != std::string::npos;
  return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<IndiAddress> ParseIndiAddress(const std::string& text, std::string& why) {
  const std::string scheme = "indi://";
  why = "--camera takes indi://HOST[:PORT]/DEVICE, not \"" + text + "\"";
  if (text.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  const std::string rest = text.substr(scheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string::npos || slash + 1 >= rest.size()) {
    why = "--camera " + text + ": the device's name is missing (indi://HOST[:PORT]/DEVICE)";
    return std::nullopt;
  }
  IndiAddress address;
  std::string authority = rest.substr(0, slash);
  std::string port_text;
  if (!authority.empty() && authority[0] == '[') {  // [::1]:7624
    const size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    address.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port_text = authority.substr(close + 2);
    }
  } else if (const size_t colon = authority.find(':'); colon != std::string::npos) {
    address.host = authority.substr(0, colon);
    port_text = authority.substr(colon + 1);
  } else {
    address.host = authority;
  }
  if (address.host.empty()) return std::nullopt;
  if (!port_text.empty() || authority.back() == ':') {
    int port = 0;
    const auto [end, failure] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (port_text.empty() || failure != std::errc() || end != port_text.data() + port_text.size() || port < 1 || port > 65535) {
      why = "--camera " + text + ": the port is a whole number from 1 to 65535";
      return std::nullopt;
    }
    address.port = port;
  }
  const std::optional<std::string> device = PercentDecoded(rest.substr(slash + 1));
  if (!device || device->empty() || device->find_first_of(std::string("\0\r\n<>&\"", 7)) != std::string::npos) {
    why = "--camera " + text + ": the device's name is not one INDI gives (a % takes two hex digits)";
    return std::nullopt;
  }
  address.device = *device;
  why.clear();
  return address;
}
