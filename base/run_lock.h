// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One station to a working folder: two (the service and the desktop's autostart) would trample
// each other's pictures, nights and uploads. The lock is the system's own on a file, held while
// the object lives and let go by the system however the process ends, so no stale file can keep
// a station from starting.

#include <cstdint>
#include <string>

class RunLock {
 public:
  enum class Result { kTaken, kHeldByAnother, kFailed };

  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  /// Takes the lock of the file at `path` (made where missing) without waiting; `reason` says why
  /// where it could not be tried.
  Result Take(const std::string& path, std::string& reason);

 private:
  intptr_t handle_ = -1;
};
