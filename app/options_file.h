// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// qor_live.conf: the command line's options for a station whose options have outgrown a command
// line or a service unit. One "name = value" a line, names as the long options without their
// dashes; "yes" or "no" for the options that take no value; a line whose first non-blank
// character is "#" is a comment. The design's qor_live.ini (the window's boxes) is another file.

#include <string>
#include <vector>

inline constexpr const char* kOptionsFileName = "qor_live.conf";

struct OptionsFile {
  std::vector<std::string> arguments;  // as they would stand on a command line
  std::string error;                   // "qor_live.conf:3: bogus = 1: unknown option ..."; empty: none
};

/// Reads the file at `path`; a missing file gives no arguments and no error. Every line is checked
/// on its own, so that an error names the file, the line number and the line.
OptionsFile ReadOptionsFile(const std::string& path);

/// The file's arguments, then the command line's: a later option wins, so the command line does.
std::vector<std::string> WithFileOptions(const OptionsFile& file, const std::vector<std::string>& command_line);
