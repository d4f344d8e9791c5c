// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Linux keeps a nice value per thread: the thread's own id lowers this thread alone.
void LowerThisThreadsPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10); }
