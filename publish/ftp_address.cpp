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
    else return std::nullopt;
    rest = rest.substr(scheme_end + 3);
  }
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  // Anything after a further "/" or an "@" would be read by libcurl as a path or credentials.
  if (rest.find_first_of("/@?#") != std::string::npos) return std::nullopt;
  address.host_and_port = rest;
  return address;
}

bool HasUnsafeCharacters(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}
