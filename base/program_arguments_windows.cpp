// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/program_arguments.h"

#include <windows.h>

#include <shellapi.h>

#include "base/windows_system.h"

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; words && i < count; ++i) arguments.push_back(Utf8(words[i]));
  LocalFree(words);
  return arguments;
}
