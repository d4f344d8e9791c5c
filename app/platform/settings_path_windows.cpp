// SPDX-License-Identifier: GPL-3.0-or-later
// Windows' file calls take UTF-16, which the station reaches through UTF-8: settings written in the
// system's 8-bit code page (C:\観測\live.fts in code page 932) are decoded from it. A byte of 0x5C
// inside a two-byte character is then no separator.
#include "app/platform/settings_path.h"

#include <windows.h>

#include "base/windows_system.h"

std::optional<std::string> FilePathFromSettings(const std::string& bytes) {
  if (bytes.empty()) return bytes;
  const int size = static_cast<int>(bytes.size());
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0) > 0) return bytes;
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), length);
  return Utf8(text);
}
