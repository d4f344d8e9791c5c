// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/program_start.h"

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

bool CanShowWindows() { return true; }

void LeaveOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}
