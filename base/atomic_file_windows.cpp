// Writing the station's files on Windows. A file is replaced by MoveFileExW, which readers see as
// the old file or the new one. Another program that holds the old file open without delete sharing
// (a web server's upload, a viewer) makes the replace fail for a moment: it is tried again for up
// to two seconds before it counts as failed.
#include "base/atomic_file.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/windows_system.h"

namespace {

HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
bool IsOpen(intptr_t handle) { return handle != -1 && handle != 0; }

bool WriteAllAt(HANDLE file, uint64_t offset, const unsigned char* bytes, size_t size) {
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &written, &at)) return false;
    bytes += written;
    offset += written;
    size -= written;
  }
  return true;
}

bool Transient(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION; }

// Write-through: the rename is on the disk when the call returns, as a flushed directory is. A
// target that another program holds open (a viewer, a virus scanner) is tried again for 2 s.
Outcome MoveIntoPlace(const std::string& temporary, const std::string& path, Durability durability) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durability == Durability::kFlushed ? MOVEFILE_WRITE_THROUGH : 0);
  const std::wstring from = WidePath(temporary), to = WidePath(path);
  // Windows never replaces a read-only file: said at once, rather than after two seconds of
  // retries that cannot help.
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return WindowsFailure("cannot put it in place: it is read-only", ERROR_ACCESS_DENIED);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    if (MoveFileExW(from.c_str(), to.c_str(), flags)) return Outcome::Success();
    const DWORD error = GetLastError();
    if (!Transient(error) || std::chrono::steady_clock::now() >= until) return WindowsFailure("cannot put it in place", error);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, mode_t) : path_(path) {
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100 && !IsOpen(handle_); ++attempt) {
    temporary_ = path + "." + TemporarySuffix();
    const HANDLE file = CreateFileW(WidePath(temporary_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<intptr_t>(file);
    else if ((error = GetLastError()) != ERROR_FILE_EXISTS) break;
  }
  if (!IsOpen(handle_)) {
    handle_ = -1;
    opened_ = WindowsFailure("cannot create a file beside it", error);
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (IsOpen(handle_)) CloseHandle(HandleOf(handle_));
  if (opened_.ok && !committed_) DeleteFileW(WidePath(temporary_).c_str());
}

Outcome AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (!opened_.ok) return opened_;
  if (!WriteAllAt(HandleOf(handle_), offset, static_cast<const unsigned char*>(data), size))
    return WindowsFailure("cannot write it", GetLastError());
  return Outcome::Success();
}

Outcome AtomicFileWriter::Commit(Durability durability) {
  if (!opened_.ok) return opened_;
  if (durability == Durability::kFlushed && !FlushFileBuffers(HandleOf(handle_)))
    return WindowsFailure("cannot flush it", GetLastError());
  const BOOL closed = CloseHandle(HandleOf(handle_));
  handle_ = -1;
  if (!closed) return WindowsFailure("cannot close it", GetLastError());
  const Outcome placed = MoveIntoPlace(temporary_, path_, durability);
  if (!placed.ok) return placed;
  committed_ = true;
  return Outcome::Success();
}

Outcome OverwriteFile(const std::string& path, const void* data, size_t size, mode_t) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WindowsFailure("cannot open it", GetLastError());
  Outcome outcome = Outcome::Success();
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (GetFileType(file) != FILE_TYPE_DISK) outcome = Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  else if (!WriteAllAt(file, 0, static_cast<const unsigned char*>(data), size)) outcome = WindowsFailure("cannot write it", GetLastError());
  else if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
    outcome = WindowsFailure("cannot cut it to its size", GetLastError());
  if (!CloseHandle(file) && outcome.ok) outcome = WindowsFailure("cannot close it", GetLastError());
  return outcome;
}

Outcome FlushFile(const std::string& path) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WindowsFailure("cannot open it to flush it", GetLastError());
  const Outcome result = FlushFileBuffers(file) ? Outcome::Success() : WindowsFailure("cannot flush it", GetLastError());
  CloseHandle(file);
  return result;
}

Outcome PutInPlace(const std::string& from, const std::string& path) {
  return MoveIntoPlace(from, path, Durability::kFlushed);
}
