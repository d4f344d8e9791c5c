#pragma once
// Small file and process helpers shared by the tests.

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

/// Runs a shell command, returns its exit status; its standard output goes to `output`. Under Wine
/// the shell and the commands are Linux's: the peers (Python, fitsverify, the servers) run there.
int RunCommand(const std::string& command, std::string* output = nullptr);

/// The Debian interpreter that has python3-astropy, pyftpdlib and Pillow.
inline const char* kPython = "/usr/bin/python3";

/// A test script from tests/scripts, by name.
std::string TestScript(const std::string& name);

/// Quotes a text for the shell; a path of the test's own files as the shell reaches it.
std::string ShellQuote(const std::string& text);

/// A path as the shell that RunCommand starts reaches it: itself on POSIX systems; under Wine a
/// path on drive Z: (the Linux root) as the Linux path it is.
std::string ShellPath(const std::string& text);

/// A FIFO at `path` with nobody at its other end, to show that nothing waits on one. Windows keeps
/// no FIFO among files: there a folder stands in, refused for the same reason (not a regular file).
bool MakeFifo(const std::string& path);

/// `path` with the system's own separators, as an observer types it ("camera\live.fts" on Windows).
std::string NativePath(const std::string& path);

/// A symbolic link at `link` to `target`, made by the shell (Wine makes none of its own).
bool MakeLink(const std::string& target, const std::string& link);

/// A device in a file's place: /dev/zero, which never ends; on Windows NUL.
extern const char* const kDeviceFile;
