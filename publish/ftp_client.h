#pragma once
// The FTP client that Start opens, every live cycle uses and Stop closes: one current session,
// every call synchronous and bounded in time, -1 on success and an error number to ask after.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <string>
#include <vector>

#include "base/file_state.h"
#include "base/outcome.h"
#include "publish/ftp_session.h"
#include "publish/picture_publisher.h"

class SftpSession;

class FtpClient : public PicturePublisher {
 public:
  explicit FtpClient(FtpTimeouts timeouts = {});
  ~FtpClient() override;
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  /// Connects and logs in now, closing any earlier session first. The server is a host name or
  /// address with optional ":port" and optional scheme ("ftp://", "ftpes://", "ftps://", or
  /// "sftp://", where an empty password means the user's SSH keys).
  int16_t FtpConnect(const std::string& server, const std::string& account, const std::string& password);
  /// Changes directory on the server now; later uploads go there. A failure keeps the directory.
  int16_t FtpSetCD(const std::string& directory);
  /// Uploads `local` in binary as `remote` in the current directory, under a temporary name that
  /// is then renamed over `remote`, and checks that the server holds as many bytes as were sent.
  /// A connection the server dropped while idle is opened and logged in again once.
  int16_t FtpPutBin(const std::string& local, const std::string& remote) override;
  /// The same into the absolute `directory`, made on the server where it is missing; the current
  /// directory stays as it was.
  int16_t FtpPutBinInto(const std::string& directory, const std::string& local, const std::string& remote) override;
  int16_t FtpDeleteIn(const std::string& directory, const std::string& remote) override;
  /// Ends the session (QUIT). Succeeds also when there is none.
  int16_t FtpDisconnect();
  /// The number of the last failure: a server reply code, a libcurl code or one of ftp_errors.h.
  int32_t FtpGetLastError() const override { return last_error_; }

  void LimitCallsTo(std::chrono::steady_clock::time_point deadline) override { limit_ = deadline; }
  bool ConnectionFailed() const override;
  bool LeftUnfinished() const override { return left_unfinished_; }
  const FtpTimeouts& timeouts() const { return timeouts_; }

  /// Lines for the log about the session (an SFTP host recorded, the way of renaming).
  std::vector<std::string> TakeNotes() override;

  /// For tests only: trust this CA file instead of the system's store for TLS servers.
  void SetCertificateAuthorityForTesting(const std::string& ca_file) { ca_file_ = ca_file; }
  /// For tests only: SSH files other than the user's own.
  void SetSshFilesForTesting(const std::string& known_hosts, const std::string& ssh_dir) {
    known_hosts_ = known_hosts;
    ssh_dir_ = ssh_dir;
  }

 private:
  /// An upload into `directory` (empty: the current one).
  int16_t Put(const std::string& directory, const std::string& local, const std::string& remote);
  int16_t Fail(int32_t error);
  int16_t Fail(const Outcome& failure);
  bool Usable();
  /// The end of a call that starts now: its own bound, or the limit set for all calls if sooner.
  std::chrono::steady_clock::time_point Deadline() const;

  FtpTimeouts timeouts_;
  std::string ca_file_;
  std::unique_ptr<FtpSession> session_;
  std::unique_ptr<SftpSession> sftp_;
  std::string known_hosts_, ssh_dir_;
  std::vector<std::string> notes_;
  std::chrono::steady_clock::time_point limit_ = std::chrono::steady_clock::time_point::max();
  int32_t last_error_ = 0;
  Outcome::Code last_failure_ = Outcome::Code::kOk;  // what kind of failure the last one was
  int32_t connect_error_ = 0;  // why the last connect failed; later calls report it
  /// An upload whose time ran out: where it went and which file it was.
  struct Unfinished {
    std::string target;
    uint64_t volume, id, id_high, size;
    FileTime modified;
    bool operator==(const Unfinished&) const = default;
  };
  std::optional<Unfinished> unfinished_;
  bool left_unfinished_ = false;
};
