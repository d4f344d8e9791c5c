#include "tests/support/server_process.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

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
  RunCommand("chmod 555 " + ShellQuote(root_) + " && chown ftp:ftp " + ShellQuote(homepage()));
  const std::string config = work_dir + "/vsftpd.conf";
  std::ofstream out(config, std::ios::binary);  // Linux reads it: no CR before the newlines
  out << "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
      << "listen_port=" << port_ << "\n"
      << "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" << ShellPath(root_) << "\n"
      << "local_enable=NO\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
      << "anon_other_write_enable=YES\nanon_umask=022\nseccomp_sandbox=NO\n"
      << "secure_chroot_dir=/var/run/vsftpd/empty\nvsftpd_log_file=" << ShellPath(work_dir) << "/vsftpd.log\n"
      << "xferlog_enable=YES\nlog_ftp_protocol=YES\nconnect_from_port_20=NO\n"
      << "pasv_enable=YES\npasv_min_port=0\npasv_max_port=0\n";
  if (!cert.empty())
    out << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
        << "rsa_cert_file=" << ShellPath(cert) << "\nrsa_private_key_file=" << ShellPath(key) << "\n";
  out.close();
  RunCommand("mkdir -p /var/run/vsftpd/empty");
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
