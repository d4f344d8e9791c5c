// Free space on Windows: what the volume of the folder gives this user.
#include "base/free_space.h"

#include <windows.h>

#include <cerrno>

#include "base/windows_system.h"

std::optional<uint64_t> FreeBytes(const std::string& directory) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(WidePath(directory.empty() ? "." : directory).c_str(), &available, nullptr, nullptr))
    return std::nullopt;
  return available.QuadPart;
}

bool IsOutOfSpace(const Outcome& failure) {
  return !failure.ok && (failure.system_error == ERROR_DISK_FULL || failure.system_error == ERROR_HANDLE_DISK_FULL ||
                         failure.system_error == ENOSPC);
}
