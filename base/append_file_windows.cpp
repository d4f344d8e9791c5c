// SPDX-License-Identifier: GPL-3.0-or-later
// Appending on Windows: the file is shared for reading, writing and deletion while it is open
// (an editor or a second station may look at the log), and only a disk file is written.
#include "base/append_file.h"

#include <windows.h>

#include <algorithm>

#include "base/regular_file.h"
#include "base/windows_system.h"

namespace {

Outcome WriteAll(HANDLE file, const std::string& bytes, const std::string& path) {
  for (size_t at = 0; at < bytes.size();) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 30));
    if (!WriteFile(file, bytes.data() + at, piece, &written, nullptr) || written == 0)
      return WindowsFailure("cannot write " + path, GetLastError());
    at += written;
  }
  return Outcome::Success();
}

}  // namespace

Outcome AppendToFile(const std::string& path, const std::string& text, AppendOptions options) {
  // A link's own reparse point is opened rather than followed when links are refused, and then
  // refused; asked first as well, since Wine opens a Linux link's target even so.
  if (!options.follow_link && KindAt(path) == PathKind::kLink)
    return Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (options.follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  // Read as well only where the last byte is looked at.
  const DWORD access = GENERIC_WRITE | (options.end_open_line ? GENERIC_READ : 0);
  const HANDLE file = CreateFileW(WidePath(path).c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WindowsFailure("cannot open " + path, GetLastError());
  Outcome result = Outcome::Success();
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK) {
    result = Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  } else if (!GetFileInformationByHandle(file, &info) || !GetFileSizeEx(file, &size)) {
    result = WindowsFailure("cannot examine " + path, GetLastError());
  } else if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    result = Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  } else {
    std::string line;
    if (options.start_anew) {
      if (!SetEndOfFile(file)) result = WindowsFailure("cannot empty " + path, GetLastError());
      size.QuadPart = 0;
    }
    char last = '\n';
    DWORD got = 0;
    LARGE_INTEGER end{};
    end.QuadPart = size.QuadPart - 1;
    if (options.end_open_line && size.QuadPart > 0 && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
        ReadFile(file, &last, 1, &got, nullptr) && got == 1 && last != '\n')
      line.push_back('\n');
    line += text;
    LARGE_INTEGER zero{};
    if (result.ok && !SetFilePointerEx(file, zero, nullptr, FILE_END))
      result = WindowsFailure("cannot write " + path, GetLastError());
    if (result.ok) result = WriteAll(file, line, path);
  }
  CloseHandle(file);
  return result;
}
