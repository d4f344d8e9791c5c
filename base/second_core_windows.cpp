// The cores this process may run on, as Windows' affinity mask gives them.
#include "base/second_core.h"

#include <windows.h>

#include <bit>

int UsableCores() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  return std::popcount(static_cast<uint64_t>(process));
}
