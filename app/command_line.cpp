#include "app/command_line.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

const char* const kUsage =
    "usage: qor_live [--start] [--headless] [--interval SECONDS] [--stale-after SECONDS]\n"
    "                [--archive-floor-mb N] [--archive-every N] [--picture SIZE] [--colour]\n"
    "                [--white-balance R,G,B] [--overlay TEXT] [--night] [--site LAT,LON]\n"
    "                [--sun-altitude DEG] [--keep-nights N] [--night-every N] [--timelapse-fps N]\n"
    "                [--timelapse-size WxH] [--large-frames] [--version] [--help]\n"
    "  --start             press Start as soon as the window has loaded its settings\n"
    "  --headless          run without a window or display; Start is pressed at launch, every\n"
    "                      status text goes to standard output, qor_live.ini is only read\n"
    "  --interval SECONDS  time between cycles, a whole number of seconds, at least 1 (default 60)\n"
    "  --stale-after SECONDS  letter \"NO NEW FRAME SINCE\" on the picture when the live frame has\n"
    "                      not changed for this long (off unless given; 600 suits long exposures)\n"
    "  --archive-floor-mb N   write no archive while the archive's disk has less than N MB free\n"
    "                      (off unless given, or 0; 1024 suits a 1537 x 1537 camera)\n"
    "  --archive-every N   archive the frame every N cycles (default 9; 0: never)\n"
    "  --picture SIZE      fit: the whole frame within 423 x 316; frame: the whole frame, a picture\n"
    "                      pixel per frame pixel; WxH: the whole frame within W x H (default: the\n"
    "                      design's 423 x 316 from the frame's top-left corner; fit for a frame\n"
    "                      beyond 1537 x 1537)\n"
    "  --colour            draw a colour camera's mosaic (BAYERPAT) in colour\n"
    "  --white-balance R,G,B  fixed gains for the colours (default: automatic, a neutral sky)\n"
    "  --overlay TEXT      a third line on the picture; {KEY} is the frame's header card KEY\n"
    "  --night             keep each published picture as nights/YYYY-MM-DD/hhmmss.jpg\n"
    "  --site LAT,LON      where the sky is (degrees, north and east positive): with --night, pictures\n"
    "                      taken while the sun is above --sun-altitude (default -6) are not kept\n"
    "  --keep-nights N     keep the newest N night folders (default 14)\n"
    "  --night-every N     also remake the night's keogram, star trails and timelapse every N\n"
    "                      pictures (they are made whenever a night ends)\n"
    "  --timelapse-fps N   frames a second of the night's timelapse (default 25)\n"
    "  --timelapse-size WxH  the timelapse fits within W x H, even sides (default 1920x1080)\n"
    "  --large-frames      read frames beyond 1537 x 1537: up to 16384 pixels on a side and 160\n"
    "                      million pixels (a 16-bit frame of 9576 x 6388 takes some 400 MB)\n"
    "  --version           print the version and exit\n"
    "  --help              print this text and exit\n"
    "Options may also stand in qor_live.conf in the working directory, one \"name = value\" a line\n"
    "(interval = 60, colour = yes); the command line wins over the file.\n"
#ifdef _WIN32
    "Ctrl-C, Ctrl-Break or closing the console lets a running cycle finish, presses Stop and exits\n"
    "with status 0.\n";
#else
    "SIGTERM, SIGINT or SIGHUP lets a running cycle finish, presses Stop and exits with status 0.\n";
#endif

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

// "1.2,1,0.8": three gains above 0 and at most 100.
std::optional<std::array<double, 3>> ParseGains(const std::string& text) {
  std::array<double, 3> gains{};
  size_t start = 0;
  for (size_t i = 0; i < 3; ++i) {
    const size_t end = i < 2 ? text.find(',', start) : text.size();
    if (end == std::string::npos) return std::nullopt;
    const std::string part = text.substr(start, end - start);
    const char* first = part.data();
    const auto [stop, failure] = std::from_chars(first, first + part.size(), gains[i]);
    if (part.empty() || failure != std::errc() || stop != first + part.size() || !(gains[i] > 0) || gains[i] > 100)
      return std::nullopt;
    start = end + 1;
  }
  return gains;
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
    } else if (name == "--archive-every") {
      uint64_t cycles = 0;
      if (!takes_value()) return Error("--archive-every needs a number of cycles");
      if (!ParseWhole(value, 0, 10000, cycles))
        return Error("--archive-every takes a whole number of cycles from 0 to 10000, not \"" + value + "\"");
      result.cycle.archive_every = static_cast<int>(cycles);
    } else if (name == "--colour" && !inline_value) {
      result.cycle.picture.colour = true;
    } else if (name == "--picture") {
      if (!takes_value()) return Error("--picture needs a size: fit, frame or WxH");
      const std::optional<PictureSize> size = PictureSize::Parse(value);
      if (!size) return Error("--picture takes fit, frame or WxH (1 to 16384 each), not \"" + value + "\"");
      result.cycle.picture.size = *size;
    } else if (name == "--white-balance") {
      if (!takes_value()) return Error("--white-balance needs three gains, R,G,B");
      const std::optional<std::array<double, 3>> gains = ParseGains(value);
      if (!gains) return Error("--white-balance takes three positive numbers R,G,B, not \"" + value + "\"");
      result.cycle.picture.white_balance = gains;
    } else if (name == "--overlay") {
      if (!takes_value()) return Error("--overlay needs a text");
      result.cycle.overlay = value;
    } else if (name == "--large-frames" && !inline_value) {
      result.cycle.large_frames = true;
    } else if (name == "--night" && !inline_value) {
      result.cycle.night.enabled = true;
    } else if (name == "--site") {
      if (!takes_value()) return Error("--site needs LAT,LON in degrees");
      const std::optional<Site> site = Site::Parse(value);
      if (!site) return Error("--site takes LAT,LON in decimal degrees (e.g. 35.68,139.77), not \"" + value + "\"");
      result.cycle.night.site = site;
    } else if (name == "--sun-altitude") {
      if (!takes_value()) return Error("--sun-altitude needs degrees");
      double degrees = 0;
      const auto [stop, failure] = std::from_chars(value.data(), value.data() + value.size(), degrees);
      // Written so that "nan" fails too: a sun at no altitude would make every picture night.
      if (value.empty() || failure != std::errc() || stop != value.data() + value.size() || !(degrees >= -90 && degrees <= 90))
        return Error("--sun-altitude takes degrees from -90 to 90, not \"" + value + "\"");
      result.cycle.night.sun_altitude = degrees;
    } else if (name == "--night-every" || name == "--timelapse-fps") {
      uint64_t number = 0;
      if (!takes_value()) return Error(name + " needs a number");
      if (!ParseWhole(value, 1, name == "--timelapse-fps" ? 120 : 100000, number))
        return Error(name + " takes a whole number from 1" + (name == "--timelapse-fps" ? " to 120" : "") + ", not \"" + value + "\"");
      (name == "--night-every" ? result.cycle.night.every : result.cycle.night.timelapse_fps) = static_cast<int>(number);
    } else if (name == "--timelapse-size") {
      if (!takes_value()) return Error("--timelapse-size needs WxH");
      const size_t x = value.find('x');
      uint64_t width = 0, height = 0;
      if (x == std::string::npos || !ParseWhole(value.substr(0, x), 2, 16384, width) ||
          !ParseWhole(value.substr(x + 1), 2, 16384, height) || width % 2 != 0 || height % 2 != 0)
        return Error("--timelapse-size takes WxH, even numbers from 2 to 16384, not \"" + value + "\"");
      result.cycle.night.timelapse_width = static_cast<int>(width);
      result.cycle.night.timelapse_height = static_cast<int>(height);
    } else if (name == "--keep-nights") {
      uint64_t nights = 0;
      if (!takes_value()) return Error("--keep-nights needs a number of nights");
      if (!ParseWhole(value, 1, 100000, nights)) return Error("--keep-nights takes a whole number from 1, not \"" + value + "\"");
      result.cycle.night.keep_nights = static_cast<int>(nights);
    } else {
      return Error("unknown option \"" + arguments[i] + "\"");
    }
  }
  return result;
}
