// The regular file on Windows. The live file is opened with read, write and delete sharing, so
// that the capture program can rewrite or replace it while the station reads it; its times (100 ns)
// and identity (volume and file index) come from the open handle.
#include "base/regular_file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/windows_system.h"

namespace {

HANDLE HandleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
bool IsOpen(intptr_t handle) { return handle != -1 && handle != 0; }

uint64_t Combine(DWORD high, DWORD low) { return uint64_t{high} << 32 | low; }

Outcome StateOf(HANDLE file, FileState& state) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return WindowsFailure("cannot examine the file", GetLastError());
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
    return WindowsFailure("cannot examine the file", GetLastError());
  state.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
  state.modified = FromWindowsTime(Combine(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  state.changed = FromWindowsTime(static_cast<uint64_t>(basic.ChangeTime.QuadPart));
  state.volume = info.dwVolumeSerialNumber;
  state.id = Combine(info.nFileIndexHigh, info.nFileIndexLow);
  state.id_high = 0;
  // ReFS ids are 128 bits, of which the 64-bit index is not unique: the whole id where the system
  // gives it.
  FILE_ID_INFO id{};
  if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
    uint64_t halves[2];
    static_assert(sizeof halves == sizeof id.FileId.Identifier);
    std::memcpy(halves, id.FileId.Identifier, sizeof halves);
    state.volume = id.VolumeSerialNumber;
    state.id = halves[0];
    state.id_high = halves[1];
  }
  return Outcome::Success();
}

}  // namespace

FileTime FileClockNow() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return FromWindowsTime(Combine(now.dwHighDateTime, now.dwLowDateTime));
}

int64_t FileClockTickNanoseconds() {
  // NTFS stamps a write with the system time, which moves on at each clock interrupt.
  DWORD adjustment = 0, increment = 0;
  BOOL disabled = FALSE;
  if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) increment = 156250;
  return std::max<int64_t>(int64_t{increment} * 100, 1'000'000);
}

RegularFile::~RegularFile() {
  if (IsOpen(handle_)) CloseHandle(HandleOf(handle_));
}

Outcome RegularFile::Open(const std::string& path) {
  if (IsOpen(handle_)) CloseHandle(HandleOf(handle_));
  handle_ = -1;
  const std::wstring wide = WidePath(path);
  // A folder cannot be opened as a file; it is refused as POSIX refuses it, by what it is.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WindowsFailure("cannot open the file", GetLastError());
  handle_ = reinterpret_cast<intptr_t>(file);
  // A pipe, a console or a device (NUL, COM1) would block or never end.
  if (GetFileType(file) != FILE_TYPE_DISK) return Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  return StateOf(file, info_);
}

Outcome RegularFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(HandleOf(handle_), out, want, &got, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return Outcome::Failure("the file ended early");
      return WindowsFailure("cannot read the file", error);
    }
    if (got == 0) return Outcome::Failure("the file ended early");
    out += got;
    offset += got;
    size -= got;
  }
  return Outcome::Success();
}

Outcome RegularFile::Stat(FileState& state) const { return StateOf(HandleOf(handle_), state); }

bool IsPresentButNotRegular(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  RegularFile file;
  return file.Open(path).code == Outcome::Code::kNotRegular;
}

// Of the reparse points, only links and junctions lead elsewhere; OneDrive's placeholders,
// deduplicated and compressed files are the files themselves.
static bool IsLinkReparsePoint(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return true;  // cannot tell: taken for a link, as before
  FindClose(search);
  return found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

PathKind KindAt(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkReparsePoint(wide)) return PathKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kOther;
  return IsPresentButNotRegular(path) ? PathKind::kOther : PathKind::kRegular;
}
