#include "publish/ftp_address.h"

#include <algorithm>
#include <cctype>

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char p, char t) { return p == std::tolower(static_cast<unsigned char>(t)); });
}

}  // namespace

std::string FtpAddress::BaseUrl() const {
  return std::string(security == FtpSecurity::kImplicit ? "ftps://" : "ftp://") + host_and_port + "/";
}

std::optional<FtpAddress> ParseFtpAddress(const std::string& server) {
  FtpAddress address;
  std::string rest = server;
  const size_t scheme_end = rest.find("://");
  if (scheme_end != std::string::npos) {
    if (StartsWithNoCase(rest, "ftp://")) address.security = FtpSecurity::kPlain;
    else if (StartsWithNoCase(rest, "ftpes://")) address.security = FtpSecurity::kExplicit;
    else if (StartsWithNoCase(rest, "ftps://")) address.security = FtpSecurity::kImplicit;
    else if (StartsWithNoCase(rest, "sftp://")) address.security = FtpSecurity::kSftp;
    else return std::nullopt;
    rest = rest.substr(scheme_end + 3);
  }
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  // Anything after a further "/" or an "@" would be read by libcurl as a path or credentials.
  if (rest.find_first_of("/@?#") != std::string::npos) return std::nullopt;
  address.host_and_port = rest;
  return address;
}

std::string FtpAddress::Host() const {
  if (!host_and_port.empty() && host_and_port.front() == '[') {
    const size_t close = host_and_port.find(']');
    return host_and_port.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  const size_t colon = host_and_port.find(':');
  // More than one colon without brackets: an IPv6 address with no port.
  if (colon == std::string::npos || host_and_port.find(':', colon + 1) != std::string::npos) return host_and_port;
  return host_and_port.substr(0, colon);
}

int FtpAddress::Port() const {
  const size_t close = host_and_port.rfind(']');
  const size_t colon = host_and_port.rfind(':');
  if (colon == std::string::npos || (close != std::string::npos && colon < close)) return 0;
  if (close == std::string::npos && host_and_port.find(':') != colon) return 0;
  const std::string digits = host_and_port.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int port = std::stoi(digits);
  return port >= 1 && port <= 65535 ? port : -1;
}

bool HasUnsafeCharacters(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}
