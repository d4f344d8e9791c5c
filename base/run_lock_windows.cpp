// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/run_lock.h"

#include <windows.h>

#include "base/windows_system.h"

RunLock::~RunLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

RunLock::Result RunLock::Take(const std::string& path, std::string& reason) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = WindowsMessage(GetLastError());
    return Result::kFailed;
  }
  OVERLAPPED start{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Result::kHeldByAnother;
    reason = WindowsMessage(error);
    return Result::kFailed;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return Result::kTaken;
}
