#pragma once
// Error numbers of the FTP layer's own (the others are server reply codes such as 530 or 550,
// and libcurl's codes such as 6 or 28). Listed in the README's troubleshooting table.

#include <cstdint>

namespace ftp_error {

inline constexpr int32_t kNotConnected = 900;     // no session: never connected, or disconnected
inline constexpr int32_t kUnsafeText = 901;       // CR, LF or NUL in a server, account, password, directory or file name
inline constexpr int32_t kLocalFile = 902;        // the local file cannot be read
inline constexpr int32_t kSizeMismatch = 903;     // the server holds another size than was sent
inline constexpr int32_t kBadServerText = 904;    // unknown scheme, or a path or "@" in the server text
inline constexpr int32_t kNoHandle = 905;         // libcurl (or libssh) could not start a session
inline constexpr int32_t kHostKeyChanged = 906;   // SFTP: the host's key differs from known_hosts
inline constexpr int32_t kKnownHostsUnusable = 907;  // SFTP: known_hosts cannot be read or written
inline constexpr int32_t kHostKeyRevoked = 908;   // SFTP: known_hosts marks the host's key @revoked

}  // namespace ftp_error
