#include "app/command_line.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "sky/sky_circle.h"
#include "camera/indi_address.h"

const char* const kUsage =
    "usage: qor_live [--start] [--headless] [--interval SECONDS] [--stale-after SECONDS]\n"
    "                [--archive-floor-mb N] [--archive-every N] [--picture SIZE] [--colour]\n"
    "                [--white-balance R,G,B] [--overlay TEXT] [--night] [--site LAT,LON]\n"
    "                [--sun-altitude DEG] [--keep-nights N] [--night-every N] [--timelapse-fps N]\n"
    "                [--timelapse-size WxH] [--large-frames] [--sky] [--star-sigma S]\n"
    "                [--sky-circle CX,CY,R] [--dark FILE] [--hot-pixels keep|remove]\n"
    "                [--sqm-zero-point Z] [--pixel-scale ARCSEC] [--sqm-calibrate READING]\n"
    "                [--events [all]] [--event-sigma S] [--event-length PX] [--alert RULE]...\n"
    "                [--alert-quiet MINUTES] [--notify URL]... [--notify-user NAME]\n"
    "                [--notify-password PASSWORD] [--notify-to ADDRESS]... [--notify-from ADDRESS]\n"
    "                [--camera indi://HOST[:PORT]/DEVICE] [--exposure SECONDS|auto]\n"
    "                [--target-level F] [--exposure-min S] [--exposure-max S] [--gain G]\n"
    "                [--binning N] [--version] [--help]\n"
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
    "  --sky               count the stars, measure the sky's darkness and clear share on every\n"
    "                      frame: in live2.json, the overlay's {STARS} {SQM} {CLEAR}, the night's\n"
    "                      sky.csv and chart.png; the clear sky is learned in sky-reference.json\n"
    "  --star-sigma S      a star stands S times the local noise above the sky (default 5; 1.5 to 100)\n"
    "  --sky-circle CX,CY,R  the sky in frame pixels (default: the largest circle centred in the\n"
    "                      frame); nothing outside it counts\n"
    "  --dark FILE         a master dark (FITS, the frames' size) subtracted before the picture and\n"
    "                      the analysis, scaled by the ratio of the EXPTIMEs; the archive stays raw\n"
    "  --hot-pixels MODE   keep (default): the picture shows them; remove: each is drawn as the\n"
    "                      median of its neighbours (learned from the last 16 frames)\n"
    "  --sqm-zero-point Z  with --pixel-scale, the darkness also in mag/arcsec\u00B2\n"
    "  --pixel-scale ARCSEC  a pixel's side on the sky in arc seconds\n"
    "  --sqm-calibrate READING  print the zero point that makes the live frame read READING (a\n"
    "                      hand-held meter's mag/arcsec\u00B2) and exit; needs --pixel-scale\n"
    "  --events [all]      find meteors, satellites and aeroplanes across frames (implies --sky);\n"
    "                      the night folder keeps events/hhmmss.jpg and events.json of the meteors\n"
    "                      (with all, of every streak); {METEORS} counts tonight's\n"
    "  --event-sigma S     a streak's brightest pixel, in units of the noise (default 5)\n"
    "  --event-length PX   a streak's least length in frame pixels (default 15)\n"
    "  --alert RULE        tell the observer when RULE starts and ends: stale, uploads-failing N,\n"
    "                      disk-low, clear F M, cloudy F M (a clear share for M minutes), meteor\n"
    "  --alert-quiet MINUTES  a rule starts at most once in this time (default 30; 0: no limit)\n"
    "  --notify URL        where alerts go: smtp://host[:port][?plain], smtps://host[:port],\n"
    "                      mqtt://host[:port]/PREFIX, mqtts://..., exec:/path/to/program\n"
    "  --notify-user NAME, --notify-password PASSWORD  the mail server's or broker's login\n"
    "  --notify-to ADDRESS, --notify-from ADDRESS      the mail's recipients and sender\n"
    "  --camera indi://HOST[:PORT]/DEVICE  take the frames with a camera of an INDI server (Linux;\n"
    "                      port 7624 unless given; %20 or a space in the device's name): each\n"
    "                      interval one exposure, written to the live file, then the cycle\n"
    "  --exposure SECONDS  the camera's exposure, shorter than the interval (default 1); auto: chosen\n"
    "                      frame by frame so that the background lands near --target-level\n"
    "  --target-level F    auto's background as a share of full scale (default 0.25)\n"
    "  --exposure-min S, --exposure-max S  auto's bounds (default 0.0001 and 60; at most nine\n"
    "                      tenths of the interval)\n"
    "  --gain G, --binning N  the camera's gain and N x N binning, where it has them\n"
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

// An option that takes a value: what it needs, said when the value is missing, and how it takes
// the value, giving the error text or nothing.
struct ValueOption {
  const char* name;
  const char* needs;
  std::string (*take)(const std::string& value, CommandLine& result);
};

std::string NotA(const std::string& what, const std::string& value) { return what + ", not \"" + value + "\""; }

std::string TakeSeconds(const std::string& name, const std::string& value, std::chrono::seconds& seconds) {
  uint64_t number = 0;
  if (!ParseWhole(value, 1, 86400 * 7, number)) return NotA(name + " takes a whole number of seconds from 1 to 604800", value);
  seconds = std::chrono::seconds(number);
  return {};
}

std::string TakeWhole(const std::string& what, const std::string& value, uint64_t low, uint64_t high, int& number) {
  uint64_t whole = 0;
  if (!ParseWhole(value, low, high, whole)) return NotA(what, value);
  number = static_cast<int>(whole);
  return {};
}

constexpr ValueOption kValueOptions[] = {
    // The cycle's and the picture's.
    {"--interval", "--interval needs a number of seconds",
     [](const std::string& v, CommandLine& r) { return TakeSeconds("--interval", v, r.cycle.interval); }},
    {"--stale-after", "--stale-after needs a number of seconds",
     [](const std::string& v, CommandLine& r) { return TakeSeconds("--stale-after", v, r.cycle.stale_after); }},
    {"--archive-floor-mb", "--archive-floor-mb needs a number of megabytes",
     [](const std::string& v, CommandLine& r) {
       return ParseWhole(v, 0, uint64_t{1} << 40, r.cycle.archive_floor_mb)
                  ? std::string()
                  : NotA("--archive-floor-mb takes a whole number of megabytes", v);
     }},
    {"--archive-every", "--archive-every needs a number of cycles",
     [](const std::string& v, CommandLine& r) {
       return TakeWhole("--archive-every takes a whole number of cycles from 0 to 10000", v, 0, 10000, r.cycle.archive_every);
     }},
    {"--picture", "--picture needs a size: fit, frame or WxH",
     [](const std::string& v, CommandLine& r) {
       const std::optional<PictureSize> size = PictureSize::Parse(v);
       if (!size) return NotA("--picture takes fit, frame or WxH (1 to 16384 each)", v);
       r.cycle.picture.size = *size;
       return std::string();
     }},
    {"--white-balance", "--white-balance needs three gains, R,G,B",
     [](const std::string& v, CommandLine& r) {
       const std::optional<std::array<double, 3>> gains = ParseGains(v);
       if (!gains) return NotA("--white-balance takes three positive numbers R,G,B", v);
       r.cycle.picture.white_balance = gains;
       return std::string();
     }},
    {"--overlay", "--overlay needs a text",
     [](const std::string& v, CommandLine& r) {
       r.cycle.overlay = v;
       return std::string();
     }},
    // The night's.
    {"--site", "--site needs LAT,LON in degrees",
     [](const std::string& v, CommandLine& r) {
       const std::optional<Site> site = Site::Parse(v);
       if (!site) return NotA("--site takes LAT,LON in decimal degrees (e.g. 35.68,139.77)", v);
       r.cycle.night.site = site;
       return std::string();
     }},
    {"--sun-altitude", "--sun-altitude needs degrees",
     [](const std::string& v, CommandLine& r) {
       double degrees = 0;
       const auto [stop, failure] = std::from_chars(v.data(), v.data() + v.size(), degrees);
       // Written so that "nan" fails too: a sun at no altitude would make every picture night.
       if (v.empty() || failure != std::errc() || stop != v.data() + v.size() || !(degrees >= -90 && degrees <= 90))
         return NotA("--sun-altitude takes degrees from -90 to 90", v);
       r.cycle.night.sun_altitude = degrees;
       return std::string();
     }},
    {"--night-every", "--night-every needs a number",
     [](const std::string& v, CommandLine& r) {
       return TakeWhole("--night-every takes a whole number from 1", v, 1, 100000, r.cycle.night.every);
     }},
    {"--timelapse-fps", "--timelapse-fps needs a number",
     [](const std::string& v, CommandLine& r) {
       return TakeWhole("--timelapse-fps takes a whole number from 1 to 120", v, 1, 120, r.cycle.night.timelapse_fps);
     }},
    {"--timelapse-size", "--timelapse-size needs WxH",
     [](const std::string& v, CommandLine& r) {
       const size_t x = v.find('x');
       uint64_t width = 0, height = 0;
       if (x == std::string::npos || !ParseWhole(v.substr(0, x), 2, 16384, width) ||
           !ParseWhole(v.substr(x + 1), 2, 16384, height) || width % 2 != 0 || height % 2 != 0)
         return NotA("--timelapse-size takes WxH, even numbers from 2 to 16384", v);
       r.cycle.night.timelapse_width = static_cast<int>(width);
       r.cycle.night.timelapse_height = static_cast<int>(height);
       return std::string();
     }},
    {"--keep-nights", "--keep-nights needs a number of nights",
     [](const std::string& v, CommandLine& r) {
       return TakeWhole("--keep-nights takes a whole number from 1", v, 1, 100000, r.cycle.night.keep_nights);
     }},
};

// A finite number from `low` to `high`, written whole: "nan", "1e999" and "5x" are refused.
std::string TakeNumber(const std::string& what, const std::string& value, double low, double high,
                       std::optional<double>& number) {
  double parsed = 0;
  const auto [stop, failure] = std::from_chars(value.data(), value.data() + value.size(), parsed);
  if (value.empty() || failure != std::errc() || stop != value.data() + value.size() || !(parsed >= low && parsed <= high))
    return NotA(what, value);
  number = parsed;
  return {};
}

// The same, into a setting that always has a value.
std::string TakeNumber(const std::string& what, const std::string& value, double low, double high, double& number) {
  std::optional<double> taken;
  std::string error = TakeNumber(what, value, low, high, taken);
  if (taken) number = *taken;
  return error;
}

constexpr ValueOption kSkyOptions[] = {
    {"--star-sigma", "--star-sigma needs a number",
     [](const std::string& v, CommandLine& r) {
       std::optional<double> sigma;
       std::string error = TakeNumber("--star-sigma takes a number from 1.5 to 100", v, 1.5, 100, sigma);
       if (sigma) r.cycle.sky.star_sigma = *sigma;
       return error;
     }},
    {"--sky-circle", "--sky-circle needs CX,CY,R",
     [](const std::string& v, CommandLine& r) {
       r.cycle.sky.circle = ParseSkyCircle(v);
       return r.cycle.sky.circle ? std::string() : NotA("--sky-circle takes CX,CY,R in frame pixels, R above 0", v);
     }},
    {"--dark", "--dark needs a FITS file",
     [](const std::string& v, CommandLine& r) {
       r.cycle.sky.dark_path = v;
       return v.empty() ? std::string("--dark needs a FITS file") : std::string();
     }},
    {"--hot-pixels", "--hot-pixels needs keep or remove",
     [](const std::string& v, CommandLine& r) {
       if (v != "keep" && v != "remove") return NotA("--hot-pixels takes keep or remove", v);
       r.cycle.sky.remove_hot_pixels = v == "remove";
       return std::string();
     }},
    {"--sqm-zero-point", "--sqm-zero-point needs a number",
     [](const std::string& v, CommandLine& r) {
       return TakeNumber("--sqm-zero-point takes a number from -100 to 100", v, -100, 100, r.cycle.sky.zero_point);
     }},
    {"--pixel-scale", "--pixel-scale needs arc seconds",
     [](const std::string& v, CommandLine& r) {
       const std::string error =
           TakeNumber("--pixel-scale takes arc seconds above 0, up to 36000", v, 1e-6, 36000, r.cycle.sky.pixel_scale);
       return error;
     }},
    {"--sqm-calibrate", "--sqm-calibrate needs a meter's reading",
     [](const std::string& v, CommandLine& r) {
       if (r.action == CommandLine::Action::kRun) r.action = CommandLine::Action::kCalibrate;
       return TakeNumber("--sqm-calibrate takes a reading in mag/arcsec\u00B2 from 10 to 25", v, 10, 25, r.sqm_reading);
     }},
};

// Alerts and the channels that carry them; --alert, --notify and --notify-to may be given again.
constexpr ValueOption kAlertOptions[] = {
    {"--events", "--events needs meteors or all",
     [](const std::string& v, CommandLine& r) {
       if (v != "meteors" && v != "all") return NotA("--events takes meteors or all", v);
       r.cycle.events.enabled = r.cycle.sky.enabled = true;
       r.cycle.events.all = v == "all";
       return std::string();
     }},
    {"--event-sigma", "--event-sigma needs a number",
     [](const std::string& v, CommandLine& r) {
       std::optional<double> sigma;
       std::string error = TakeNumber("--event-sigma takes a number from 2 to 100", v, 2, 100, sigma);
       if (sigma) r.cycle.events.sigma = *sigma;
       return error;
     }},
    {"--event-length", "--event-length needs a number of pixels",
     [](const std::string& v, CommandLine& r) {
       return TakeWhole("--event-length takes a whole number of pixels from 5 to 10000", v, 5, 10000, r.cycle.events.length);
     }},
    {"--alert", "--alert needs a rule",
     [](const std::string& v, CommandLine& r) {
       std::string why;
       std::optional<AlertRule> rule = ParseAlertRule(v, why);
       if (rule) r.cycle.alerts.rules.push_back(std::move(*rule));
       return why;
     }},
    {"--alert-quiet", "--alert-quiet needs minutes",
     [](const std::string& v, CommandLine& r) {
       int minutes = 0;
       std::string error = TakeWhole("--alert-quiet takes whole minutes from 0 to 1440", v, 0, 1440, minutes);
       r.cycle.alerts.quiet = std::chrono::minutes(minutes);
       return error;
     }},
    {"--notify", "--notify needs an address",
     [](const std::string& v, CommandLine& r) {
       std::string why;
       std::optional<NotifyAddress> address = ParseNotifyAddress(v, why);
       if (address) r.cycle.alerts.notify.push_back(std::move(*address));
       return why;
     }},
    {"--notify-user", "--notify-user needs a name",
     [](const std::string& v, CommandLine& r) { r.cycle.alerts.channels.user = v; return std::string(); }},
    {"--notify-password", "--notify-password needs a password",
     [](const std::string& v, CommandLine& r) { r.cycle.alerts.channels.password = v; return std::string(); }},
    {"--notify-to", "--notify-to needs an address",
     [](const std::string& v, CommandLine& r) {
       if (v.find('@') == std::string::npos || v.find_first_of(std::string("\r\n<> ,\0", 7)) != std::string::npos)
         return NotA("--notify-to takes a mail address", v);
       r.cycle.alerts.channels.to.push_back(v);
       return std::string();
     }},
    {"--notify-from", "--notify-from needs an address",
     [](const std::string& v, CommandLine& r) {
       if (v.find('@') == std::string::npos || v.find_first_of(std::string("\r\n<> ,\0", 7)) != std::string::npos)
         return NotA("--notify-from takes a mail address", v);
       r.cycle.alerts.channels.from = v;
       return std::string();
     }},
};

// The station's own camera and its exposure.
constexpr ValueOption kCameraOptions[] = {
    {"--camera", "--camera needs indi://HOST[:PORT]/DEVICE",
     [](const std::string& v, CommandLine& r) {
       std::string why;
       std::optional<IndiAddress> address = ParseIndiAddress(v, why);
       if (!address) return why;
       r.cycle.camera.text = v;
       r.cycle.camera.address = *address;
       return std::string();
     }},
    {"--exposure", "--exposure needs seconds or auto",
     [](const std::string& v, CommandLine& r) {
       ExposureSettings& exposure = r.cycle.camera.exposure;
       exposure.automatic = v == "auto";
       if (exposure.automatic) return std::string();
       return TakeNumber("--exposure takes seconds from 0.00001 to 3600, or auto", v, 0.00001, 3600, exposure.seconds);
     }},
    {"--target-level", "--target-level needs a share of full scale",
     [](const std::string& v, CommandLine& r) {
       return TakeNumber("--target-level takes a share of full scale from 0.01 to 0.9", v, 0.01, 0.9,
                         r.cycle.camera.exposure.target_level);
     }},
    {"--exposure-min", "--exposure-min needs seconds",
     [](const std::string& v, CommandLine& r) {
       return TakeNumber("--exposure-min takes seconds from 0.00001 to 3600", v, 0.00001, 3600, r.cycle.camera.exposure.shortest);
     }},
    {"--exposure-max", "--exposure-max needs seconds",
     [](const std::string& v, CommandLine& r) {
       return TakeNumber("--exposure-max takes seconds from 0.00001 to 3600", v, 0.00001, 3600, r.cycle.camera.exposure.longest);
     }},
    {"--gain", "--gain needs a number",
     [](const std::string& v, CommandLine& r) {
       return TakeNumber("--gain takes a number from 0 to 100000", v, 0, 100000, r.cycle.camera.gain);
     }},
    {"--binning", "--binning needs a number",
     [](const std::string& v, CommandLine& r) {
       int binning = 0;
       std::string error = TakeWhole("--binning takes a whole number from 1 to 16", v, 1, 16, binning);
       if (error.empty()) r.cycle.camera.binning = binning;
       return error;
     }},
};

std::string Plain(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", number);
  return text;
}

// What the camera's options ask of each other and of the interval; empty where all is well.
std::string CameraWants(const CommandLine& result, const std::vector<std::string>& arguments) {
  const CameraSettings& camera = result.cycle.camera;
  if (!camera.enabled()) {
    for (const char* name : {"--exposure", "--target-level", "--exposure-min", "--exposure-max", "--gain", "--binning"})
      for (const std::string& argument : arguments)
        if (argument == name || argument.rfind(std::string(name) + "=", 0) == 0)
          return std::string(name) + " needs --camera: it is for a camera the station drives itself";
    return {};
  }
  const ExposureSettings& exposure = camera.exposure;
  const double interval = static_cast<double>(result.cycle.interval.count());
  if (!exposure.automatic && exposure.seconds >= interval)
    return "--exposure " + Plain(exposure.seconds) + " is not shorter than the interval (" +
           std::to_string(result.cycle.interval.count()) + " s): the exposures would stack up";
  if (exposure.automatic && exposure.shortest > exposure.longest) return "--exposure-min is above --exposure-max";
  if (exposure.automatic && exposure.shortest >= interval)
    return "--exposure-min is not shorter than the interval: the exposures would stack up";
  return {};
}

// What one alert option asks of the others, said as the error; empty where all is there.
std::string AlertsWant(const CommandLine& result) {
  const AlertSettings& alerts = result.cycle.alerts;
  for (const AlertRule& rule : alerts.rules) {
    if (rule.kind == AlertRule::Kind::kStale && result.cycle.stale_after.count() == 0)
      return "--alert stale needs --stale-after: it says how long without a new frame is stale";
    if (rule.kind == AlertRule::Kind::kDiskLow && result.cycle.archive_floor_mb == 0)
      return "--alert disk-low needs --archive-floor-mb: it says how low is low";
    if ((rule.kind == AlertRule::Kind::kClear || rule.kind == AlertRule::Kind::kCloudy) && !result.cycle.sky.enabled)
      return "--alert " + rule.name + " needs --sky: the clear share is the sky's";
    if (rule.kind == AlertRule::Kind::kMeteor && !result.cycle.events.enabled)
      return "--alert meteor needs --events";
  }
  for (const NotifyAddress& address : alerts.notify)
    if (address.kind == NotifyAddress::Kind::kMail && alerts.channels.to.empty())
      return "--notify " + address.text + " needs --notify-to ADDRESS";
  return {};
}

const ValueOption* FindValueOption(const std::string& name) {
  for (const ValueOption& option : kValueOptions)
    if (name == option.name) return &option;
  for (const ValueOption& option : kSkyOptions)
    if (name == option.name) return &option;
  for (const ValueOption& option : kAlertOptions)
    if (name == option.name) return &option;
  for (const ValueOption& option : kCameraOptions)
    if (name == option.name) return &option;
  return nullptr;
}

// An option without a value: true where `name` is one, which is then set.
bool TakeFlag(const std::string& name, CommandLine& result) {
  if (name == "--help") result.action = CommandLine::Action::kHelp;
  else if (name == "--version") result.action = CommandLine::Action::kVersion;
  else if (name == "--start") result.start = true;
  else if (name == "--headless") result.headless = true;
  else if (name == "--colour") result.cycle.picture.colour = true;
  else if (name == "--large-frames") result.cycle.large_frames = true;
  else if (name == "--night") result.cycle.night.enabled = true;
  else if (name == "--sky") result.cycle.sky.enabled = true;
  else return false;
  return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool whole) {
  CommandLine result;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    const bool inline_value = name.rfind("--", 0) == 0 && name.find('=') != std::string::npos;
    if (inline_value) {
      value = name.substr(name.find('=') + 1);
      name = name.substr(0, name.find('='));
    }
    if (!inline_value && TakeFlag(name, result)) continue;
    // --events alone, or --events all.
    if (name == "--events" && !inline_value && (i + 1 >= arguments.size() || (arguments[i + 1] != "all" && arguments[i + 1] != "meteors"))) {
      result.cycle.events.enabled = result.cycle.sky.enabled = true;
      continue;
    }
    const ValueOption* option = FindValueOption(name);
    if (!option) return Error("unknown option \"" + arguments[i] + "\"");
    if (!inline_value) {
      if (i + 1 >= arguments.size()) return Error(option->needs);
      value = arguments[++i];
    }
    if (std::string error = option->take(value, result); !error.empty()) return Error(std::move(error));
  }
  std::string wanted;
  if (whole) wanted = AlertsWant(result);
  if (whole && wanted.empty()) wanted = CameraWants(result, arguments);
  if (!wanted.empty() && result.action == CommandLine::Action::kRun)
    return Error(std::move(wanted));
  // --help and --version answer before a calibration is asked what it needs.
  if (result.action == CommandLine::Action::kCalibrate && !result.cycle.sky.pixel_scale)
    return Error("--sqm-calibrate needs --pixel-scale: the zero point is per square arc second");
  return result;
}
