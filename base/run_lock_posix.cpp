// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

RunLock::~RunLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

RunLock::Result RunLock::Take(const std::string& path, std::string& reason) {
  // A link put in its place must not make the station open (or create) a file elsewhere.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    reason = std::strerror(errno);
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return Result::kHeldByAnother;
    reason = std::strerror(error);
    return Result::kFailed;
  }
  handle_ = fd;
  return Result::kTaken;
}
