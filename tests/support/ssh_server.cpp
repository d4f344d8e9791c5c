#include "tests/support/ssh_server.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/files.h"

namespace {

std::string Text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int Occurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++count;
  return count;
}

void MakeKey(const std::string& path) {
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".pub");
  if (RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + ShellQuote(path) + " >/dev/null 2>&1") != 0)
    throw std::runtime_error("ssh-keygen failed");
}

}  // namespace

std::string OpenSshServer::User() {
  // Asked of the shell: under Wine the user is Linux's, not Windows'.
  static const std::string user = [] {
    std::string name;
    RunCommand("id -un", &name);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    return name.empty() ? std::string("root") : name;
  }();
  return user;
}

OpenSshServer::OpenSshServer(const std::string& work_dir) : dir_(work_dir + "/sshd"), port_(FreePort()) {
  std::filesystem::create_directories(client_ssh_dir());
  MakeKey(dir_ + "/host_key");
  MakeKey(client_ssh_dir() + "/id_ed25519");
  std::filesystem::copy_file(client_ssh_dir() + "/id_ed25519.pub", dir_ + "/authorized_keys");
  std::ofstream config(dir_ + "/sshd_config", std::ios::binary);  // Linux reads it: no CR before the newlines
  const std::string dir = ShellPath(dir_);
  config << "ListenAddress 127.0.0.1\nPort " << port_ << "\nHostKey " << dir << "/host_key\n"
         << "PidFile none\nAuthorizedKeysFile " << dir << "/authorized_keys\n"
         << "AllowUsers " << User() << "\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
         << "PermitRootLogin prohibit-password\nUsePAM no\nStrictModes no\n"
         << "Subsystem sftp internal-sftp -l VERBOSE\nLogLevel VERBOSE\n";
  config.close();
  // sshd run by root separates privileges into this directory, which a machine without a
  // running sshd may not have.
  RunCommand("[ \"$(id -u)\" != 0 ] || mkdir -p /run/sshd");
  Start();
}

void OpenSshServer::Start() {
  process_ = ChildProcess({"/usr/sbin/sshd", "-D", "-e", "-f", dir_ + "/sshd_config"}, dir_ + "/sshd.log");
  if (!WaitForListener(port_, 10)) throw std::runtime_error("sshd did not start: " + log());
}

void OpenSshServer::Restart(bool new_host_key) {
  process_.KillTree();  // the connections' own sshd processes go too
  earlier_logs_ += Text(dir_ + "/sshd.log");
  if (new_host_key) MakeKey(dir_ + "/host_key");
  Start();
}

std::string OpenSshServer::log() const { return earlier_logs_ + Text(dir_ + "/sshd.log"); }
int OpenSshServer::Count(const std::string& text) const { return Occurrences(log(), text); }

PasswordSftpServer::PasswordSftpServer(const std::string& root, const std::string& user, const std::string& password,
                                       bool keyboard_interactive)
    : log_path_(root + "/../sftp-password-server.log"), port_(FreePort()) {
  std::vector<std::string> command = {kPython, TestScript("sftp_password_server.py"), root, log_path_, "--port",
                                      std::to_string(port_), "--user", user, "--password", password};
  if (keyboard_interactive) command.push_back("--keyboard-interactive");
  process_ = ChildProcess(command, log_path_ + ".out");
  if (!WaitForListener(port_, 15)) throw std::runtime_error("the password SFTP server did not start: " + Text(log_path_ + ".out"));
}

int PasswordSftpServer::Count(const std::string& text) const { return Occurrences(Text(log_path_), text); }
