#include "publish/sftp_session.h"

#include <algorithm>
#include <utility>
#include <libssh/libssh.h>

#include "publish/ftp_errors.h"
#include "publish/sftp_wire.h"

namespace {

using Clock = SftpSession::Clock;

constexpr size_t kWriteChunk = 32 * 1024;

// libssh says what went wrong only in words; the numbers the station shows are libcurl's for the
// same transport failures, so that the README's table holds for both.
int32_t TransportError(ssh_session ssh) {
  const std::string text = ssh ? ssh_get_error(ssh) : "";
  if (text.find("resolve") != std::string::npos) return 6;
  if (text.find("refused") != std::string::npos) return 7;
  if (text.find("imeout") != std::string::npos || text.find("timed out") != std::string::npos) return 28;
  return 56;  // the connection failed or was dropped
}

}  // namespace

class SftpSession::Connection {
 public:
  ~Connection() {
    wire.reset();
    if (ssh) {
      long brief = 2;  // saying goodbye to a dead server must not hold the station up
      ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &brief);
      ssh_disconnect(ssh);
      ssh_free(ssh);
    }
  }

  // libssh's own blocking waits (connect, login) end at `limit`, and never past the deadline.
  void Bound(std::chrono::seconds limit, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    const auto bound = std::max(std::chrono::microseconds(1000), std::min<std::chrono::microseconds>(limit, left));
    long seconds = static_cast<long>(bound.count() / 1000000);
    long micros = static_cast<long>(bound.count() % 1000000);
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT_USEC, &micros);
  }

  ssh_session ssh = nullptr;
  std::unique_ptr<SftpWire> wire;
};

namespace {

// The wait for one reply: the stall bound, and never past the call's deadline.
Clock::time_point ReplyBy(std::chrono::seconds stall, Clock::time_point deadline) {
  return std::min(deadline, Clock::now() + stall);
}

}  // namespace

SftpSession::SftpSession(FtpAddress address, std::string user, std::string password, const FtpTimeouts& timeouts,
                         SshFiles files)
    : address_(std::move(address)), user_(std::move(user)), password_(std::move(password)), timeouts_(timeouts),
      files_(std::move(files)) {}

SftpSession::~SftpSession() = default;

std::vector<std::string> SftpSession::TakeNotes() { return std::exchange(notes_, {}); }

int32_t SftpSession::Open(Clock::time_point deadline) {
  connection_.reset();
  auto connection = std::make_unique<Connection>();
  ssh_session ssh = connection->ssh = ssh_new();
  if (!ssh) return ftp_error::kNoHandle;
  const int port = address_.Port() == 0 ? 22 : address_.Port();
  if (port < 0 || address_.Host().empty()) return ftp_error::kBadServerText;
  const std::string host = address_.Host();
  bool no = false;
  ssh_options_set(ssh, SSH_OPTIONS_HOST, host.c_str());
  ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
  ssh_options_set(ssh, SSH_OPTIONS_USER, user_.c_str());
  ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);  // the settings of the window, nothing else
  int yes = 1;  // each request waits for its reply: Nagle's delay would add 40 ms to every one
  ssh_options_set(ssh, SSH_OPTIONS_NODELAY, &yes);
  if (!files_.ssh_dir.empty()) ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, files_.ssh_dir.c_str());
  if (!files_.known_hosts.empty()) ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, files_.known_hosts.c_str());
  connection->Bound(timeouts_.connect, deadline);
  if (ssh_connect(ssh) != SSH_OK) return TransportError(ssh);

  // The host's key, before any credential leaves the station.
  const std::string shown = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
  switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK:
      break;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
      notes_.push_back("SFTP: the host key of " + shown + " differs from the one in known_hosts: refused");
      return ftp_error::kHostKeyChanged;
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
      // Trusted on first sight and recorded, as OpenSSH's StrictHostKeyChecking accept-new does.
      if (ssh_session_update_known_hosts(ssh) != SSH_OK) return ftp_error::kKnownHostsUnusable;
      notes_.push_back("SFTP: " + shown + " seen for the first time; its host key was recorded in known_hosts");
      break;
    default:
      return ftp_error::kKnownHostsUnusable;
  }

  connection->Bound(timeouts_.connect, deadline);
  const int auth = password_.empty() ? ssh_userauth_publickey_auto(ssh, nullptr, nullptr)
                                     : ssh_userauth_password(ssh, nullptr, password_.c_str());
  if (auth == SSH_AUTH_ERROR) return TransportError(ssh);
  if (auth != SSH_AUTH_SUCCESS) return 530;

  connection->wire = std::make_unique<SftpWire>(ssh);
  const SftpWire::Result started = connection->wire->Start(ReplyBy(timeouts_.stall, deadline));
  if (!started.ok()) return started.error;
  connection_ = std::move(connection);
  return 0;
}

int32_t SftpSession::ChangeDirectory(const std::string& directory, Clock::time_point deadline) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!connection_) {
      if (const int32_t opened = Open(deadline); opened != 0) return opened;
    }
    SftpWire& wire = *connection_->wire;
    std::string target = directory.empty() || directory.front() != '/' ? PathOf(directory) : directory;
    if (target.empty() || target.front() != '/') {
      // Relative to the login directory, as the server names it.
      const SftpWire::Result home = wire.RealPath(".", ReplyBy(timeouts_.stall, deadline));
      if (!home.ok()) return home.error;
      target = home.path + (target.empty() ? "" : "/" + target);
    }
    const SftpWire::Result found = wire.Stat(target, ReplyBy(timeouts_.stall, deadline));
    if (found.error == 56 && attempt == 0 && deadline - Clock::now() >= timeouts_.connect) {
      connection_.reset();  // dropped while idle: once more on a fresh session
      continue;
    }
    if (!found.ok()) return found.error;
    if (!found.is_directory) return 550;
    directory_ = target;
    return 0;
  }
  return 56;
}

int32_t SftpSession::Upload(const std::string& bytes, const std::string& remote, Clock::time_point deadline) {
  int32_t result = connection_ ? UploadOnce(bytes, remote, deadline) : 56;
  // A session the server dropped while idle is opened again, within the same deadline.
  if (result == 56 && deadline - Clock::now() >= timeouts_.connect) {
    result = Open(deadline);
    if (result == 0) result = UploadOnce(bytes, remote, deadline);
  }
  // A session left waiting for a reply is out of step with the server: the next call opens a new one.
  if (result == 28 || result == 56) connection_.reset();
  return result;
}

std::string SftpSession::PathOf(const std::string& name) const {
  if (directory_.empty()) return name;
  return directory_ + (directory_.back() == '/' ? "" : "/") + name;
}

int32_t SftpSession::UploadOnce(const std::string& bytes, const std::string& remote, Clock::time_point deadline) {
  SftpWire& wire = *connection_->wire;
  const std::string temporary = PathOf("." + remote + ".part");
  const SftpWire::Result opened = wire.OpenForWriting(temporary, ReplyBy(timeouts_.stall, deadline));
  if (!opened.ok()) return opened.error;
  for (size_t at = 0; at < bytes.size(); at += kWriteChunk) {
    const size_t size = std::min(kWriteChunk, bytes.size() - at);
    const SftpWire::Result written = wire.Write(opened.handle, at, bytes.data() + at, size, ReplyBy(timeouts_.stall, deadline));
    if (!written.ok()) {
      wire.Close(opened.handle, ReplyBy(timeouts_.stall, deadline));
      return written.error;
    }
  }
  if (const SftpWire::Result closed = wire.Close(opened.handle, ReplyBy(timeouts_.stall, deadline)); !closed.ok())
    return closed.error;

  if (const int32_t replaced = Replace(temporary, PathOf(remote), deadline); replaced != 0) return replaced;

  const SftpWire::Result landed = wire.Stat(PathOf(remote), ReplyBy(timeouts_.stall, deadline));
  if (!landed.ok()) return landed.error;
  return landed.size == bytes.size() ? 0 : ftp_error::kSizeMismatch;
}

// OpenSSH's server refuses the standard rename onto an existing name; its posix-rename extension
// replaces the file in one step. Where no such extension is offered, the published picture is
// set aside first and put back if the upload cannot take its place, so the site is never left
// without one.
int32_t SftpSession::Replace(const std::string& temporary, const std::string& target, Clock::time_point deadline) {
  SftpWire& wire = *connection_->wire;
  const bool atomic = wire.Offers("posix-rename@openssh.com");
  if (!rename_way_noted_) {
    notes_.push_back(atomic ? "SFTP: the picture is replaced in one step (posix-rename)"
                            : "SFTP: the server offers no atomic rename; the old picture is set aside first");
    rename_way_noted_ = true;
  }
  const auto by = [&] { return ReplyBy(timeouts_.stall, deadline); };
  SftpWire::Result result = atomic ? wire.PosixRename(temporary, target, by()) : wire.Rename(temporary, target, by());
  if (result.ok()) return 0;
  if (atomic || result.error == 56 || result.error == 28) {
    wire.Remove(temporary, by());
    return result.error;
  }
  const size_t slash = target.rfind('/');
  const std::string aside = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".old";
  wire.Remove(aside, by());
  result = wire.Rename(target, aside, by());
  if (!result.ok()) {
    wire.Remove(temporary, by());
    return result.error;
  }
  result = wire.Rename(temporary, target, by());
  if (!result.ok()) {
    wire.Rename(aside, target, by());
    wire.Remove(temporary, by());
    return result.error;
  }
  wire.Remove(aside, by());
  return 0;
}
