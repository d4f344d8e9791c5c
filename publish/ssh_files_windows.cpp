// SPDX-License-Identifier: GPL-3.0-or-later
// Windows' OpenSSH keeps the user's files in the profile folder and the machine's in ProgramData;
// both are read as UTF-16 so that a profile named "Łukasz" is found.
#include "publish/ssh_files.h"

#include <windows.h>

#include "base/windows_system.h"

namespace {

std::string Variable(const wchar_t* name, const char* otherwise) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? Utf8(std::wstring(value, length)) : otherwise;
}

}  // namespace

const char* const kNoFile = "NUL";

std::string UserKnownHostsPath() { return Variable(L"USERPROFILE", "C:\\") + "\\.ssh\\known_hosts"; }

std::string SystemKnownHostsPath() { return Variable(L"ProgramData", "C:\\ProgramData") + "\\ssh\\ssh_known_hosts"; }
