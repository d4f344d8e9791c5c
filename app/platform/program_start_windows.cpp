// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/program_start.h"

#include <windows.h>

bool CanShowWindows() { return true; }

void LeaveOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}
