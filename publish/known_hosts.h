// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// known_hosts in OpenSSH's format, read and written by the station itself. The SSH library's own
// reader gives up on long lines and large files and then calls a known host "new", which would
// send the password to whoever holds the address; it also blocks on a FIFO. Here a file that
// cannot be read whole is an error, never an empty file.

#include <string>
#include <vector>

#include "base/outcome.h"

/// A server's public key: its type name ("ssh-ed25519") and its wire-format bytes.
struct HostKey {
  std::string type;
  std::string blob;
  /// From the base64 text of a key; empty fields where it is not a key.
  static HostKey FromBase64(const std::string& text);
};

enum class HostKeyVerdict {
  kKnown,      // recorded for this host
  kUnknown,    // nothing is recorded for this host
  kChanged,    // another key of the same type is recorded
  kOtherType,  // only keys of other types are recorded
  kRevoked,    // a @revoked line names this key for this host
};

class KnownHosts {
 public:
  /// The largest file read; a larger one is refused rather than read in part.
  static constexpr size_t kLargestFile = size_t{64} << 20;

  /// Reads `path` whole, without blocking: a missing file is an empty one; anything but a regular
  /// file of at most kLargestFile bytes fails. Lines it cannot parse are passed over, as OpenSSH
  /// does; CR LF line ends are read as LF.
  Outcome Load(const std::string& path);

  /// What is recorded for `host` ("name" for port 22, "[name]:port" otherwise) about `key`.
  /// Host names match OpenSSH's patterns (",", "*", "?", "!") and hashed names ("|1|").
  /// @cert-authority lines are passed over: they never make a host known.
  HostKeyVerdict Check(const std::string& host, const HostKey& key) const;
  /// The key types recorded for `host`, first seen first (to ask the server for one of them).
  std::vector<std::string> TypesFor(const std::string& host) const;

  /// Appends "host type key" to the regular file at `path` (made if missing, readable by its
  /// owner only), on a line of its own.
  static Outcome Record(const std::string& path, const std::string& host, const HostKey& key);

 private:
  enum class Marker { kNone, kRevoked, kCertAuthority };
  struct Entry {
    Marker marker = Marker::kNone;
    std::string hosts;  // the pattern list or the hashed name, as written
    HostKey key;
  };
  std::vector<Entry> entries_;
};

/// True when `host` (lower case) matches the host field of a known_hosts line.
bool HostFieldMatches(const std::string& field, const std::string& host);
