#pragma once
// "qor_live.ini": the texts of the seven boxes, one a line, in the system's 8-bit encoding.

#include <array>
#include <optional>
#include <string>

#include <QString>

#include "fits/outcome.h"

inline constexpr const char* kSettingsFileName = "qor_live.ini";
inline constexpr int kSettingsLines = 7;  // Text1, Text3, Text4, Text5, Text6, Text2, Text7

/// The lines read, in file order; a line the file does not reach (or a missing file) is empty.
/// A line ends at CR LF, at CR alone or at LF alone; the last one may end at the end of the file.
/// Blanks are kept; lines after the seventh are not read.
using SettingsLines = std::array<std::optional<QString>, kSettingsLines>;
SettingsLines LoadSettingsFile(const std::string& path);

/// Writes the seven texts, each followed by CR LF, replacing the file whole (temporary file, then
/// rename) and readable by its owner only, since the password is among them.
Outcome SaveSettingsFile(const std::string& path, const std::array<QString, kSettingsLines>& texts);
