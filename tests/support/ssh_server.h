#pragma once
// OpenSSH's sshd for the SFTP tests, with a config, host key and authorized key of its own, on a
// free port of 127.0.0.1; never the machine's own sshd or its users' files.

#include <string>

#include "tests/support/server_process.h"

class OpenSshServer {
 public:
  /// Keys and config go to `work_dir`/sshd; the client's own key to `work_dir`/sshd/client.
  explicit OpenSshServer(const std::string& work_dir);
  /// Freezes or thaws the processes that serve the open connections (SIGSTOP, SIGCONT): a server
  /// that stalls in the middle of a session.
  void FreezeConnections(bool frozen) { process_.FreezeDescendants(frozen); }
  /// Kills the server and starts it again on the same port, with a new host key if asked.
  void Restart(bool new_host_key = false);
  ~OpenSshServer() { process_.KillTree(); }
  void Kill() { process_.KillTree(); }
  int port() const { return port_; }
  std::string address() const { return "sftp://127.0.0.1:" + std::to_string(port_); }
  /// The user the tests log in as: the one running them.
  static std::string User();
  /// The directory with the client's key (id_ed25519), for FtpClient::SetSshFilesForTesting.
  std::string client_ssh_dir() const { return dir_ + "/client"; }
  /// Everything the server logged since it was first started.
  std::string log() const;
  int Count(const std::string& text) const;

 private:
  void Start();
  std::string dir_;
  std::string earlier_logs_;
  int port_ = 0;
  ChildProcess process_;
};

/// The asyncssh SFTP server of tests/scripts/sftp_password_server.py: a second SSH implementation
/// that takes a password from its command line, so password logins are tested without a user.
class PasswordSftpServer {
 public:
  /// With `keyboard_interactive` the password is only taken at a keyboard-interactive prompt.
  PasswordSftpServer(const std::string& root, const std::string& user, const std::string& password,
                     bool keyboard_interactive = false);
  std::string address() const { return "sftp://127.0.0.1:" + std::to_string(port_); }
  int Count(const std::string& text) const;

 private:
  std::string log_path_;
  int port_ = 0;
  ChildProcess process_;
};
