// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/thread_priority.h"

#include <windows.h>

void LowerThisThreadsPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST); }
