// The shell's side of the tests on Windows, run under Wine: the command goes to Linux's /bin/sh,
// which Wine starts as a Linux program, its output into a file that is read afterwards (a pipe
// from a Linux program to a Wine one may stay open after it ends). On Windows itself the tests
// that need Linux's peers cannot run.
#include "tests/support/files.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <chrono>
#include <thread>

#include "tests/support/temp_dir.h"

std::string ShellPath(const std::string& text) {
  if (text.size() < 3 || (text[0] != 'Z' && text[0] != 'z') || text[1] != ':' || (text[2] != '\\' && text[2] != '/'))
    return text;
  std::string unix_path = text.substr(2);
  for (char& c : unix_path)
    if (c == '\\') c = '/';
  return unix_path;
}

int RunCommand(const std::string& command, std::string* output) {
  TempDir scratch;
  const std::string result = scratch.File("output"), status = scratch.File("status");
  // Wine cannot wait for a Linux process it started (its handle is signalled at once): the shell
  // leaves its exit status in a file, renamed into place when the command has ended.
  const std::string shell = "( " + command + " ) > " + ShellQuote(result) + "; echo $? > " + ShellQuote(status + ".new") +
                            " && mv " + ShellQuote(status + ".new") + " " + ShellQuote(status);
  // Quoted as Windows splits a command line: backslashes are doubled only before a quote.
  std::string quoted = "Z:\\bin\\sh -c \"";
  size_t backslashes = 0;
  for (char c : shell) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  std::wstring line(quoted.size(), L'\0');
  line.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, quoted.data(), static_cast<int>(quoted.size()), line.data(), static_cast<int>(line.size()))));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return -1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Ten minutes at most: the slowest peer (a fuzzing-sized astropy check) takes seconds.
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (!std::filesystem::exists(status)) {
    if (std::chrono::steady_clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream status_file(status);
  int code = -1;
  status_file >> code;
  if (output) {
    std::ifstream in(result, std::ios::binary);
    output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return code;
}

bool MakeFifo(const std::string& path) { return std::filesystem::create_directory(path); }

const char* const kDeviceFile = "NUL";
