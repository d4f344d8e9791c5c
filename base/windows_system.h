// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the Windows sides of the seams share: the station's UTF-8 paths as Windows' UTF-16 ones,
// Windows' error codes as outcomes, and Windows' file times. Built on Windows only.

#include <cstdint>
#include <string>

#include "base/file_state.h"
#include "base/outcome.h"

/// A UTF-8 path as Windows takes it: UTF-16, "/" as "\", and a path too long for the old limit
/// of 260 characters made absolute with the "\\?\" prefix that lifts it.
std::wstring WidePath(const std::string& path);
/// UTF-8 text as Windows' UTF-16.
std::wstring Wide(const std::string& text);
/// UTF-16 from Windows as UTF-8.
std::string Utf8(const std::wstring& text);
/// Windows' own text for an error code (GetLastError's, WSAGetLastError's), without its full stop.
std::string WindowsMessage(unsigned long error);
/// A failed Windows call: `what` was being done, `error` is GetLastError's code. A file or path
/// that is not there is kNotFound, anything else kSystem with the code in `system_error`.
Outcome WindowsFailure(const std::string& what, unsigned long error);
/// A Windows file time (100 ns since 1601) as a FileTime.
FileTime FromWindowsTime(uint64_t hundreds_since_1601);
