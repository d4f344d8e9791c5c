// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/options_file.h"

#include <filesystem>

#include "app/command_line.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

constexpr size_t kLargestFile = size_t{1} << 20;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The options that take no value.
bool IsSwitch(const std::string& name) {
  return name == "start" || name == "headless" || name == "colour" || name == "night" ||
         name == "large-frames" || name == "sky" || name == "events";
}

// The arguments of one line, or why it is not understood.
bool LineArguments(const std::string& line, std::vector<std::string>& arguments, std::string& why) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) {
    why = "not \"name = value\"";
    return false;
  }
  const std::string name = Trimmed(line.substr(0, equals));
  const std::string value = Trimmed(line.substr(equals + 1));
  if (name.empty() || name.rfind("-", 0) == 0 || name == "help" || name == "version" || name == "sqm-calibrate") {
    why = "not an option of the file";
    return false;
  }
  if (name == "events" && (value == "all" || value == "meteors")) {
    arguments.push_back("--events=" + value);
  } else if (IsSwitch(name)) {
    if (value == "yes" || value == "true" || value == "1") arguments.push_back("--" + name);
    else if (value != "no" && value != "false" && value != "0") {
      why = name + " takes yes or no";
      return false;
    }
  } else {
    arguments.insert(arguments.end(), {"--" + name, value});
  }
  const CommandLine alone = ParseCommandLine(arguments, false);
  if (alone.action == CommandLine::Action::kError) {
    why = alone.error;
    return false;
  }
  return true;
}

}  // namespace

OptionsFile ReadOptionsFile(const std::string& path) {
  OptionsFile file;
  std::string bytes;
  const Outcome read = ReadRegularFile(path, kLargestFile, bytes);
  // A link to nothing is a conf the observer meant to have: refused, as an unreadable one is.
  if (read.not_found() && KindAt(path) == PathKind::kLink) {
    file.error = path + ": a link to a file that is not there";
    return file;
  }
  if (read.not_found()) return file;
  if (!read.ok) {
    file.error = path + ": " + read.reason;
    return file;
  }
  // Editors on Windows may begin the file with a byte-order mark, and old ones end lines with CR.
  size_t start = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (int number = 1; start < bytes.size(); ++number) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    const std::string content = Trimmed(line);
    if (content.empty() || content[0] == '#') continue;
    std::vector<std::string> arguments;
    std::string why;
    const size_t nul = line.find('\0');
    if (nul != std::string::npos) {
      // Shown up to the NUL: the rest would cut the message short where it is printed.
      file.error = path + ":" + std::to_string(number) + ": " + line.substr(0, nul) + "...: a NUL byte in the line";
      file.arguments.clear();
      return file;
    }
    if (!LineArguments(content, arguments, why)) {
      file.error = path + ":" + std::to_string(number) + ": " + line + ": " + why;
      file.arguments.clear();
      return file;
    }
    file.arguments.insert(file.arguments.end(), arguments.begin(), arguments.end());
  }
  return file;
}

std::vector<std::string> WithFileOptions(const OptionsFile& file, const std::vector<std::string>& command_line) {
  std::vector<std::string> arguments = file.arguments;
  arguments.insert(arguments.end(), command_line.begin(), command_line.end());
  return arguments;
}
