#pragma once
// The server text of the window, turned into what the FTP layer connects to.

#include <optional>
#include <string>

enum class FtpSecurity {
  kPlain,     // none or "ftp://": plain FTP
  kExplicit,  // "ftpes://": AUTH TLS on the FTP port, required
  kImplicit,  // "ftps://": TLS from the first byte
  kSftp,      // "sftp://": SFTP over SSH, the host's key checked against known_hosts
};

struct FtpAddress {
  FtpSecurity security = FtpSecurity::kPlain;
  std::string host_and_port;  // "host", "host:port", "[::1]:2121"
  /// The URL of the login directory, for libcurl.
  std::string BaseUrl() const;
  /// The host without brackets, and the port (0 where none is given).
  std::string Host() const;
  int Port() const;
};

/// Splits "scheme://host:port" (scheme optional, letter case ignored, trailing "/" dropped).
/// The schemes are ftp, ftpes, ftps and sftp.
/// Unknown schemes give nothing.
std::optional<FtpAddress> ParseFtpAddress(const std::string& server);

/// True when the text holds CR, LF or NUL, which could end an FTP command early and smuggle in
/// another one.
bool HasUnsafeCharacters(const std::string& text);
