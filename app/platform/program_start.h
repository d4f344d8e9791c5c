// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the program needs of its system as it starts: its arguments as UTF-8, whether a window
// can be shown, and the console it may not need.

#include "base/program_arguments.h"

/// Whether a window can be shown at all (a display server, or Windows' desktop).
bool CanShowWindows();
/// The window needs no console: one that was opened only for this program (started from the Start
/// menu or at logon) is closed. A console it shares with a command prompt stays.
void LeaveOwnConsole();
