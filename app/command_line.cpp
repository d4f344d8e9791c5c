#include "app/command_line.h"

#include <charconv>

const char* const kUsage =
    "usage: qor_live [--start] [--headless] [--interval SECONDS] [--version] [--help]\n"
    "  --start             press Start as soon as the window has loaded its settings\n"
    "  --headless          run without a window or display; Start is pressed at launch, every\n"
    "                      status text goes to standard output, qor_live.ini is only read\n"
    "  --interval SECONDS  time between cycles, a whole number of seconds, at least 1 (default 60)\n"
    "  --version           print the version and exit\n"
    "  --help              print this text and exit\n"
    "SIGTERM or SIGINT lets a running cycle finish, presses Stop and exits with status 0.\n";

namespace {

CommandLine Error(std::string why) {
  CommandLine result;
  result.action = CommandLine::Action::kError;
  result.error = std::move(why);
  return result;
}

// A whole number of seconds from 1 up to a day, digits only.
bool ParseSeconds(const std::string& text, std::chrono::seconds& seconds) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || stop != end || value < 1 || value > 86400) return false;
  seconds = std::chrono::seconds(value);
  return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    const bool inline_value = name.rfind("--", 0) == 0 && name.find('=') != std::string::npos;
    if (inline_value) {
      value = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    const auto takes_value = [&]() -> bool {
      if (inline_value) return true;
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    if (name == "--help") {
      result.action = CommandLine::Action::kHelp;
    } else if (name == "--version") {
      result.action = CommandLine::Action::kVersion;
    } else if (name == "--start" && !inline_value) {
      result.start = true;
    } else if (name == "--headless" && !inline_value) {
      result.headless = true;
    } else if (name == "--interval") {
      if (!takes_value()) return Error("--interval needs a number of seconds");
      if (!ParseSeconds(value, result.interval))
        return Error("--interval takes a whole number of seconds from 1 to 86400, not \"" + value + "\"");
    } else {
      return Error("unknown option \"" + arguments[i] + "\"");
    }
  }
  return result;
}
