// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The station's paths are UTF-8 strings on every system. The standard library's paths take a
// plain string in the system's narrow code page, which on Windows is not UTF-8: these go through
// char8_t so that a folder named "Beobachtung/観測" is the same folder on both systems.

#include <filesystem>
#include <string>
#include <string_view>

inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
