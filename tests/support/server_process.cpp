#include "tests/support/server_process.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/files.h"

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  Kill();
  pid_ = other.pid_;
  other.pid_ = -1;
  return *this;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::vector<int> ChildProcess::Descendants() const {
  // Every process whose chain of parents leads to this one, found through /proc.
  std::vector<int> tree = {pid_};
  for (size_t i = 0; i < tree.size(); ++i)
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream fields(line.substr(close + 2));
      char state;
      int parent = 0;
      fields >> state >> parent;
      if (parent == tree[i]) tree.push_back(std::atoi(entry.path().filename().c_str()));
    }
  tree.erase(tree.begin());
  return tree;
}

void ChildProcess::KillTree() {
  if (pid_ <= 0) return;
  for (int pid : Descendants()) kill(pid, SIGKILL);
  Kill();
}

void ChildProcess::SignalDescendants(int signal_number) {
  if (pid_ <= 0) return;
  for (int pid : Descendants()) kill(pid, signal_number);
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

int ChildProcess::WaitForExit(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

SilentListener::SilentListener() {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 4) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() { close(fd_); }

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool WaitForListener(int port, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

PyFtpServer::PyFtpServer(const std::string& root, Options options)
    : root_(root), log_path_(root + "/../ftp-server.log"), options_(std::move(options)), port_(FreePort()) {
  Start();
}

void PyFtpServer::Start() {
  std::vector<std::string> argv = {kPython, TestScript("ftp_server.py"), root_, log_path_, "--port", std::to_string(port_)};
  if (options_.tls) argv.insert(argv.end(), {"--tls", options_.cert, options_.key});
  if (options_.no_rename_over) argv.push_back("--no-rename-over");
  argv.insert(argv.end(), options_.hostile.begin(), options_.hostile.end());
  process_ = ChildProcess(argv, log_path_ + ".out");
  if (!WaitForListener(port_, 10)) throw std::runtime_error("the FTP server did not start: " + log());
}

void PyFtpServer::Restart() {
  process_.Kill();
  Start();
}

std::string PyFtpServer::log() const {
  std::ifstream in(log_path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int PyFtpServer::Count(const std::string& prefix) const {
  std::istringstream lines(log());
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
  return count;
}

Vsftpd::Vsftpd(const std::string& work_dir, const std::string& cert, const std::string& key) : root_(work_dir + "/vsftpd-root"), port_(FreePort()) {
  // Anonymous uploads: the root may not be writable, the upload directory belongs to "ftp".
  std::filesystem::create_directories(homepage());
  std::filesystem::permissions(root_, std::filesystem::perms(0555));
  RunCommand("chown ftp:ftp " + ShellQuote(homepage()));
  const std::string config = work_dir + "/vsftpd.conf";
  std::ofstream out(config);
  out << "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
      << "listen_port=" << port_ << "\n"
      << "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" << root_ << "\n"
      << "local_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
      << "anon_other_write_enable=YES\nanon_umask=022\nseccomp_sandbox=NO\n"
      << "secure_chroot_dir=/var/run/vsftpd/empty\nvsftpd_log_file=" << work_dir << "/vsftpd.log\n"
      << "xferlog_enable=YES\nlog_ftp_protocol=YES\nconnect_from_port_20=NO\n"
      << "pasv_enable=YES\npasv_min_port=0\npasv_max_port=0\n";
  if (!cert.empty())
    out << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
        << "rsa_cert_file=" << cert << "\nrsa_private_key_file=" << key << "\n";
  out.close();
  std::filesystem::create_directories("/var/run/vsftpd/empty");
  process_ = ChildProcess({"/usr/sbin/vsftpd", config}, work_dir + "/vsftpd.out");
  if (!WaitForListener(port_, 10)) throw std::runtime_error("vsftpd did not start");
}

void MakeTestCertificates(const std::string& dir) {
  const std::string d = ShellQuote(dir);
  const std::string script =
      "set -e; cd " + d + "; "
      "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=qor-test-ca -days 2 2>/dev/null; "
      "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 2>/dev/null; "
      "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext; "
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
      "-extfile san.ext 2>/dev/null";
  if (RunCommand("bash -c " + ShellQuote(script)) != 0) throw std::runtime_error("openssl failed");
}
