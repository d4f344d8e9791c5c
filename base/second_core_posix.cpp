// The cores this process may run on, as the POSIX scheduler's affinity gives them.
#include "base/second_core.h"

#include <sched.h>

int UsableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  return CPU_COUNT(&cores);
}
