// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live file's path as the settings file holds it: bytes in the system's 8-bit code page (as
// the design's program wrote them) or UTF-8, made into the path the station's file calls take.

#include <optional>
#include <string>

/// The path for the file calls, or nothing where the bytes are no text of this system's code page.
std::optional<std::string> FilePathFromSettings(const std::string& bytes);
