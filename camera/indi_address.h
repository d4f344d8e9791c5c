#pragma once
// indi://HOST[:PORT]/DEVICE: where an INDI server runs and which of its devices is the camera.

#include <optional>
#include <string>

struct IndiAddress {
  static constexpr int kDefaultPort = 7624;
  std::string host;
  int port = kDefaultPort;
  std::string device;  // as INDI names it: percent-escapes undone, a plain space taken as it is
  std::string HostAndPort() const;
};

/// The address, or nothing with `why` set.
std::optional<IndiAddress> ParseIndiAddress(const std::string& text, std::string& why);
