// SPDX-License-Identifier: GPL-3.0-or-later
// Through Windows' own code page 932: Qt without ICU has no Shift-JIS converter on Windows.
#include "app/platform/shift_jis.h"

#include <windows.h>

std::optional<QString> ExactShiftJis(const std::string& bytes) {
  if (bytes.empty()) return QString();
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), length);
  BOOL lossy = FALSE;
  std::string back(bytes.size() * 2 + 8, '\0');
  const int written = WideCharToMultiByte(932, 0, text.data(), length, back.data(), static_cast<int>(back.size()), nullptr, &lossy);
  if (lossy || written != size || back.compare(0, bytes.size(), bytes) != 0) return std::nullopt;
  return QString::fromWCharArray(text.data(), length);
}
