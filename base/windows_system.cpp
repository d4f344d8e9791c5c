#include "base/windows_system.h"

#include <windows.h>

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  if (!text.empty()) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  }
  return wide;
}

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  if (wide.size() < 248 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  // Beyond the old limit only an absolute path with the prefix is taken whole.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr));
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::string WindowsMessage(unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = length > 0 ? Utf8(std::wstring(text, length)) : "error " + std::to_string(error);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
  return reason;
}

Outcome WindowsFailure(const std::string& what, unsigned long error) {
  const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  return {false, absent ? Outcome::Code::kNotFound : Outcome::Code::kSystem, static_cast<int>(error), what + ": " + WindowsMessage(error)};
}

FileTime FromWindowsTime(uint64_t hundreds_since_1601) {
  // 1601 to 1970: 369 years of 100 ns ticks.
  constexpr int64_t kTo1970 = 116444736000000000;
  const int64_t since_1970 = static_cast<int64_t>(hundreds_since_1601) - kTo1970;
  int64_t seconds = since_1970 / 10'000'000, rest = since_1970 % 10'000'000;
  if (rest < 0) rest += 10'000'000, --seconds;
  return {seconds, rest * 100};
}
