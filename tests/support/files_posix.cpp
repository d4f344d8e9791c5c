// The shell's side of the tests on POSIX systems.
#include "tests/support/files.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>

int RunCommand(const std::string& command, std::string* output) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> chunk{};
  std::string collected;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) collected.append(chunk.data(), n);
  const int status = pclose(pipe);
  if (output) *output = collected;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellPath(const std::string& text) { return text; }

bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

const char* const kDeviceFile = "/dev/zero";
