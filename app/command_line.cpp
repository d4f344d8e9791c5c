#include "app/command_line.h"

#include <charconv>
#include <cstdint>

const char* const kUsage =
    "usage: qor_live [--start] [--headless] [--interval SECONDS] [--stale-after SECONDS]\n"
    "                [--archive-floor-mb N] [--version] [--help]\n"
    "  --start             press Start as soon as the window has loaded its settings\n"
    "  --headless          run without a window or display; Start is pressed at launch, every\n"
    "                      status text goes to standard output, qor_live.ini is only read\n"
    "  --interval SECONDS  time between cycles, a whole number of seconds, at least 1 (default 60)\n"
    "  --stale-after SECONDS  letter \"NO NEW FRAME SINCE\" on the picture when the live frame has\n"
    "                      not changed for this long (off unless given; 600 suits long exposures)\n"
    "  --archive-floor-mb N   write no archive while the archive's disk has less than N MB free\n"
    "                      (off unless given, or 0; 1024 suits a 1537 x 1537 camera)\n"
    "  --version           print the version and exit\n"
    "  --help              print this text and exit\n"
    "SIGTERM, SIGINT or SIGHUP lets a running cycle finish, presses Stop and exits with status 0.\n";

namespace {

CommandLine Error(std::string why) {
  CommandLine result;
  result.action = CommandLine::Action::kError;
  result.error = std::move(why);
  return result;
}

// A whole number from `low` to `high`, digits only.
bool ParseWhole(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  return !text.empty() && failure == std::errc() && stop == end && value >= low && value <= high;
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
    if (name == "--help" && !inline_value) {
      result.action = CommandLine::Action::kHelp;
    } else if (name == "--version" && !inline_value) {
      result.action = CommandLine::Action::kVersion;
    } else if (name == "--start" && !inline_value) {
      result.start = true;
    } else if (name == "--headless" && !inline_value) {
      result.headless = true;
    } else if (name == "--interval" || name == "--stale-after") {
      uint64_t seconds = 0;
      if (!takes_value()) return Error(name + " needs a number of seconds");
      if (!ParseWhole(value, 1, 86400 * 7, seconds))
        return Error(name + " takes a whole number of seconds from 1 to 604800, not \"" + value + "\"");
      (name == "--interval" ? result.cycle.interval : result.cycle.stale_after) = std::chrono::seconds(seconds);
    } else if (name == "--archive-floor-mb") {
      if (!takes_value()) return Error("--archive-floor-mb needs a number of megabytes");
      if (!ParseWhole(value, 0, uint64_t{1} << 40, result.cycle.archive_floor_mb))
        return Error("--archive-floor-mb takes a whole number of megabytes, not \"" + value + "\"");
    } else {
      return Error("unknown option \"" + arguments[i] + "\"");
    }
  }
  return result;
}
