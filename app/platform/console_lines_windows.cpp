// SPDX-License-Identifier: GPL-3.0-or-later
// A console shows bytes in its own code page, which is not UTF-8 (437, 850, 932 ...): a Japanese
// Windows' reasons and a folder named 観測 would come out garbled. A console therefore gets the
// line as UTF-16; a file or a pipe gets the UTF-8 bytes, as on Linux.
#include "app/platform/console_lines.h"

#include <io.h>
#include <windows.h>

#include "base/windows_system.h"

void PrintLine(std::FILE* out, const std::string& line) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  // A console handle may be open for writing only, which GetConsoleMode refuses: the write itself
  // tells a console from NUL or a serial port.
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR) {
    std::fflush(out);  // whatever the C library still holds comes first
    const std::wstring text = Wide(line + "\n");
    DWORD written = 0;
    if (WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return;
  }
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}
