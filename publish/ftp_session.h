// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One logged-in FTP connection (plain, FTPES or FTPS) through libcurl: log in, change directory
// and publish a file under a temporary name that is renamed over the published one. Every call
// ends by its deadline; a connection the server dropped while idle is opened again once.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "base/regular_file.h"
#include "publish/ftp_address.h"

struct FtpTimeouts {
  std::chrono::seconds connect{15};    // TCP connect plus greeting and login
  std::chrono::seconds stall{30};      // a transfer or reply with no progress for this long fails
  std::chrono::seconds operation{90};  // one whole call, retries included
};

class FtpSession {
 public:
  using Clock = std::chrono::steady_clock;

  /// `ca_file`: a CA file to trust instead of the system's store (tests); empty: the system's.
  FtpSession(FtpAddress address, std::string account, std::string password, const FtpTimeouts& timeouts,
             const std::string& ca_file);
  ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  /// False when libcurl could not start a session.
  bool ok() const;
  /// Logs in (if not yet) and goes to `directory` (segments; {"/", ...} absolute; empty: the
  /// login directory), without a transfer.
  Outcome Visit(const std::vector<std::string>& directory, Clock::time_point deadline);
  /// Uploads `file` (read as it is sent) as ".REMOTE.part" in the current directory and renames it
  /// over `remote`; where the server refuses to rename onto a file, the published one is set
  /// aside first and put back if the upload cannot take its place. Then checks the size sent and
  /// the size the server holds (903 where they differ). With `go_on`, a part of the same upload
  /// that an earlier call left on the server (its time ran out) is continued (APPE) rather than
  /// sent again.
  Outcome Publish(const RegularFile& file, const std::string& remote, Clock::time_point deadline, bool go_on = false);

  /// The same into `directory` (segments as for Visit), made on the server where it is missing;
  /// the session's own directory stays as it was.
  Outcome PublishInto(const std::vector<std::string>& directory, const RegularFile& file, const std::string& remote,
                      Clock::time_point deadline, bool go_on = false);

  /// Deletes the file at the absolute `path` (DELE).
  Outcome Delete(const std::string& path, Clock::time_point deadline);

  const std::vector<std::string>& directory() const;
  void set_directory(std::vector<std::string> directory);

 private:
  class Impl;
  // The part that this session's last upload left on the server when it failed: where it is (the
  // directory's segments and its name) and how far the bytes sent reached.
  struct LeftPart {
    std::string place;
    uint64_t sent = 0;
  };
  std::string PlaceOf(const std::string& name) const;
  /// The part's size where it is still what this session sent of `file`; else 0.
  uint64_t PartStillOurs(const RegularFile& file, const std::string& temporary, uint64_t sent, Clock::time_point deadline);

  std::unique_ptr<Impl> impl_;
  std::optional<LeftPart> left_part_;
};
