// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/program_start.h"

#include <QtGlobal>

bool CanShowWindows() {
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

void LeaveOwnConsole() {}
