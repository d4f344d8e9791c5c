#include "tests/support/files.h"

#include <filesystem>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  // In blocks, not byte by byte: watchers in the tests must keep pace under the sanitizers too.
  std::vector<uint8_t> bytes;
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0) bytes.insert(bytes.end(), block, block + in.gcount());
  return bytes;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string TestScript(const std::string& name) { return std::string(QOR_TEST_SCRIPTS) + "/" + name; }

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : ShellPath(text)) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

bool MakeLink(const std::string& target, const std::string& link) {
  return RunCommand("ln -s " + ShellQuote(target) + " " + ShellQuote(link)) == 0;
}

std::string NativePath(const std::string& path) { return std::filesystem::path(path).make_preferred().string(); }
