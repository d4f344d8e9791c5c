#pragma once
// One SFTP session (libssh): connect, check the host's key against known_hosts, log in, and then
// change directory and upload as the FTP side does, with the same guarantees and time bounds.
// Every call returns an Outcome whose `number` is the error number the station shows.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <libssh/libssh.h>

#include "base/outcome.h"
#include "base/regular_file.h"
#include "publish/ftp_address.h"
#include "publish/ftp_client.h"

class KnownHosts;

/// Where the SSH files are; empty fields mean the user's own, as OpenSSH finds them.
struct SshFiles {
  std::string known_hosts;  // ~/.ssh/known_hosts
  std::string ssh_dir;      // ~/.ssh, for the keys id_ed25519, id_ecdsa, id_rsa
};

class SftpSession {
 public:
  using Clock = std::chrono::steady_clock;

  SftpSession(FtpAddress address, std::string user, std::string password, const FtpTimeouts& timeouts,
              SshFiles files);
  ~SftpSession();
  SftpSession(const SftpSession&) = delete;
  SftpSession& operator=(const SftpSession&) = delete;

  /// Connects, checks the host key (recording a host seen for the first time, refusing a changed
  /// or revoked key before any credential is sent), logs in and starts SFTP.
  Outcome Open(Clock::time_point deadline);
  /// Makes `directory` (absolute, or relative to the current one) the upload directory if it is
  /// a directory on the server.
  Outcome ChangeDirectory(const std::string& directory, Clock::time_point deadline);
  /// Uploads `file` (read as it is sent) as `remote` in the upload directory: under a temporary
  /// name, then renamed over `remote`, then its size checked. A session the server dropped is
  /// opened again once. With `go_on`, a part of the same upload that an earlier call left on the
  /// server (its time ran out) is continued rather than sent again.
  Outcome Upload(const RegularFile& file, const std::string& remote, Clock::time_point deadline, bool go_on = false);

  /// The same into the absolute `directory`, made on the server where it is missing (one level);
  /// the session's own directory stays as it was.
  Outcome UploadInto(const std::string& directory, const RegularFile& file, const std::string& remote,
                     Clock::time_point deadline, bool go_on = false);

  /// Deletes the file at the absolute `path`.
  Outcome Delete(const std::string& path, Clock::time_point deadline);

  /// Lines worth a place in the log since the last call (a host recorded, the way of renaming).
  std::vector<std::string> TakeNotes();

 private:
  class Connection;
  // The part that this session's last upload left on the server when its time ran out: its path,
  // the bytes the server acknowledged, and those of the write still unanswered then, which the
  // server may have made or not. Only such a part is ever continued.
  struct LeftPart {
    std::string path;
    uint64_t acknowledged = 0;
    uint64_t unanswered = 0;
  };
  Outcome CheckHostKey(ssh_session ssh, const std::string& shown, const KnownHosts& known,
                       const KnownHosts& system_known);
  Outcome UploadOnce(const RegularFile& file, const std::string& remote, Clock::time_point deadline, bool go_on);
  Outcome Replace(const std::string& temporary, const std::string& remote, Clock::time_point deadline);
  /// The size of the part `left` where it is still what this session sent of `file`: a plain file
  /// (not a link) of a size it sent, whose bytes read back match the file's; else 0.
  uint64_t PartStillOurs(const RegularFile& file, const LeftPart& left, Clock::time_point deadline);
  std::string PathOf(const std::string& name) const;
  std::string KnownHostsPath() const;
  int PasswordLogin(ssh_session ssh) const;

  FtpAddress address_;
  std::string user_;
  std::string password_;
  FtpTimeouts timeouts_;
  SshFiles files_;
  std::unique_ptr<Connection> connection_;
  std::string directory_;  // absolute; empty: the login directory
  std::vector<std::string> notes_;
  bool rename_way_noted_ = false;
  std::optional<LeftPart> left_part_;
};
