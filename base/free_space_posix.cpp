#include "base/free_space.h"

#include <cerrno>

#include <sys/statvfs.h>

std::optional<uint64_t> FreeBytes(const std::string& directory) {
  struct statvfs info {};
  if (statvfs(directory.empty() ? "." : directory.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

bool IsOutOfSpace(const Outcome& failure) {
  return !failure.ok && (failure.system_error == ENOSPC || failure.system_error == EDQUOT);
}
