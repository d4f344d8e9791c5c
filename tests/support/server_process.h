#pragma once
// Real servers for the publishing tests, started on 127.0.0.1 and stopped when the test ends.

#include <string>
#include <vector>

/// A child process; killed (SIGKILL) and reaped on destruction or Kill(). Under Wine it is a Linux
/// program (the servers the tests talk to), started through Linux's shell.
class ChildProcess {
 public:
  ChildProcess() = default;
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path = "/dev/null");
  ~ChildProcess() { Kill(); }
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), exit_file_(std::move(other.exit_file_)) { other.pid_ = -1; }
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  void Kill();
  /// Kills the process and every process it started (a server's per-connection children).
  void KillTree();
  /// Sends `signal_number` (Linux's number) to every process this one started, not to itself.
  void SignalDescendants(int signal_number);
  /// Stops or resumes every process this one started (SIGSTOP, SIGCONT).
  void FreezeDescendants(bool frozen);
  void Signal(int signal_number);
  /// The exit status once the process has ended, or -1 if it is still running after `seconds`.
  int WaitForExit(double seconds);
  bool running() const { return pid_ > 0; }

 private:
  std::vector<int> Descendants() const;
  int pid_ = -1;
  std::string exit_file_;  // where the Linux shell leaves the exit status, under Wine
};

/// A socket on 127.0.0.1 that the kernel lets clients connect to but that never answers: a server
/// that hangs.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

/// A free TCP port on 127.0.0.1 (bound, read back and released).
int FreePort();
/// Waits until something accepts connections on 127.0.0.1:port; false after `seconds`.
bool WaitForListener(int port, double seconds);

/// The pyftpdlib server of tests/scripts/ftp_server.py, with its command log.
class PyFtpServer {
 public:
  struct Options {
    bool tls = false;
    bool no_rename_over = false;
    std::string cert, key;
    std::vector<std::string> hostile;  // further options of ftp_server.py, e.g. {"--refuse", "RNFR"}
  };
  PyFtpServer(const std::string& root, Options options);
  PyFtpServer(const std::string& root) : PyFtpServer(root, Options{}) {}
  /// Kills the server (connections die without a goodbye) and starts it again on the same port.
  void Restart();
  void Kill() { process_.Kill(); }
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const;
  /// Number of log lines that start with `prefix`.
  int Count(const std::string& prefix) const;

 private:
  void Start();
  std::string root_, log_path_;
  Options options_;
  int port_ = 0;
  ChildProcess process_;
};

/// vsftpd with anonymous uploads into root/homepage, configured by the test; with a certificate
/// and key it demands explicit TLS for logins and data.
class Vsftpd {
 public:
  explicit Vsftpd(const std::string& work_dir, const std::string& cert = "", const std::string& key = "");
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string homepage() const { return root_ + "/homepage"; }

 private:
  std::string root_;
  int port_ = 0;
  ChildProcess process_;
};

/// Makes a throwaway CA and a server certificate for 127.0.0.1 in `dir`: ca.pem, server.pem, server.key.
void MakeTestCertificates(const std::string& dir);
