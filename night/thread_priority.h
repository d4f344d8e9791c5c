// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Work that may take seconds of every core (encoding a night) yields to the window and the cycle.

/// Lowers the calling thread's scheduling priority below the process's others.
void LowerThisThreadsPriority();
