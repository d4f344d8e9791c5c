// The test servers under Wine: Linux programs started through Linux's shell, which reports their
// process ids and exit statuses in files (Wine cannot wait for a Linux process), and Winsock for
// the ports, whose sockets are Linux's own underneath.
#include "tests/support/server_process.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

namespace {

// Linux's numbers: the signals go to Linux processes, whatever the system's own header says.
constexpr int kLinuxStop = 19, kLinuxContinue = 18;

// The shell's words for a process and everything it started: the children first, as pgrep finds
// them, then the process.
const char* const kTreeFunction = "tree() { for c in $(pgrep -P \"$1\"); do tree \"$c\"; done; echo \"$1\"; }; ";

SOCKET LoopbackSocket() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdout_path) {
  static int started = 0;
  // In Linux's /tmp (drive Z: under Wine), where the shell that writes it reaches it too.
  exit_file_ = "Z:\\tmp\\qor-child-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++started);
  std::string command;
  for (const std::string& word : argv) command += ShellQuote(ShellPath(word)) + " ";
  // The program runs in the background of a shell that waits for it and writes its status; the
  // shell that started them says the program's id and ends.
  const std::string watcher = command + "> " + ShellQuote(stdout_path) + " 2>&1 & echo $! > " + ShellQuote(exit_file_ + ".pid") +
                              "; wait $!; echo $? > " + ShellQuote(exit_file_ + ".new") + " && mv " +
                              ShellQuote(exit_file_ + ".new") + " " + ShellQuote(exit_file_);
  std::string output;
  const std::string pid_file = ShellQuote(exit_file_ + ".pid");
  if (RunCommand("sh -c " + ShellQuote(watcher) + " </dev/null >/dev/null 2>&1 & "
                 "for i in $(seq 500); do [ -s " + pid_file + " ] && break; sleep 0.01; done; cat " + pid_file,
                 &output) != 0 || (pid_ = std::atoi(output.c_str())) <= 0)
    throw std::runtime_error("cannot start " + argv.front());
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  Kill();
  pid_ = other.pid_;
  exit_file_ = std::move(other.exit_file_);
  other.pid_ = -1;
  return *this;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  Signal(9);
  WaitForExit(10);
  pid_ = -1;
}

std::vector<int> ChildProcess::Descendants() const {
  std::string output;
  RunCommand(std::string(kTreeFunction) + "tree " + std::to_string(pid_), &output);
  std::vector<int> tree;
  std::istringstream ids(output);
  for (int id; ids >> id;)
    if (id != pid_) tree.push_back(id);
  return tree;
}

void ChildProcess::KillTree() {
  if (pid_ <= 0) return;
  SignalDescendants(9);
  Kill();
}

void ChildProcess::SignalDescendants(int signal_number) {
  if (pid_ <= 0) return;
  std::string command = "kill -" + std::to_string(signal_number);
  const std::vector<int> ids = Descendants();
  for (int id : ids) command.append(" ").append(std::to_string(id));
  if (!ids.empty()) RunCommand(command + " 2>/dev/null");
}

void ChildProcess::FreezeDescendants(bool frozen) {
  SignalDescendants(frozen ? kLinuxStop : kLinuxContinue);
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) RunCommand("kill -" + std::to_string(signal_number) + " " + std::to_string(pid_) + " 2>/dev/null");
}

int ChildProcess::WaitForExit(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (pid_ > 0) {
    std::ifstream status(exit_file_);
    int code = -1;
    if (status >> code) {
      pid_ = -1;
      status.close();
      std::error_code ignored;
      std::filesystem::remove(exit_file_, ignored);
      std::filesystem::remove(exit_file_ + ".pid", ignored);
      return code;
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

SilentListener::SilentListener() {
  const SOCKET listener = LoopbackSocket();
  sockaddr_in address = Loopback(0);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  int length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  fd_ = static_cast<int>(listener);
  port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() { closesocket(static_cast<SOCKET>(fd_)); }

int FreePort() {
  const SOCKET probe = LoopbackSocket();
  sockaddr_in address = Loopback(0);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(probe);
  return ntohs(address.sin_port);
}

bool WaitForListener(int port, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const SOCKET probe = LoopbackSocket();
    sockaddr_in address = Loopback(port);
    const bool up = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(probe);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}
