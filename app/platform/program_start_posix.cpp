// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/program_start.h"

#include <QtGlobal>

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

bool CanShowWindows() {
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

void LeaveOwnConsole() {}
