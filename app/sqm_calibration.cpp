// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sqm_calibration.h"

#include "app/platform/console_lines.h"
#include "app/platform/settings_path.h"
#include "app/settings_file.h"
#include "base/plain_numbers.h"
#include "fits/fits_reader.h"
#include "sky/sky_analyser.h"
#include "sky/sky_brightness.h"

namespace {

class NoBoxes : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string& message) override { text = message; }
  std::string text;
};

int Refuse(std::FILE* err, const std::string& why) {
  PrintLine(err, "qor_live: --sqm-calibrate: " + why);
  return 2;
}

}  // namespace

int CalibrateSqm(const CommandLine& options, std::FILE* out, std::FILE* err) {
  const SettingsBytes settings = LoadSettingsBytes(kSettingsFileName);
  const std::string bytes = settings.lines[0].value_or(kDefaultSettingsTexts[0]);
  const std::optional<std::string> path = FilePathFromSettings(bytes);
  if (!path) return Refuse(err, "the live file's path in " + std::string(kSettingsFileName) + " is not text of this system");
  static FrameStore store;  // as the station's: its pixel block is large for the stack
  store.LiveFilePath = *path;
  store.LargeFrames = options.cycle.large_frames;
  FrameReader reader;
  NoBoxes header;
  const ReadResult read = reader.ReadLiveFrame(store, header);
  if (read.status != ReadStatus::kOk)
    return Refuse(err, *path + ": " + (read.status == ReadStatus::kHeaderError ? header.text : read.message));
  SkySettings sky = options.cycle.sky;
  sky.enabled = true;
  SkyAnalyser analyser;
  if (const Outcome configured = analyser.Configure(sky); !configured.ok) return Refuse(err, configured.reason);
  analyser.Prepare(store);
  const SkyReading& reading = analyser.Analyse(store, read.data_digest, "");
  analyser.Restore(store);
  if (!reading.measured()) return Refuse(err, reading.failure);
  const std::optional<double> exposure = ExposureOf(store);
  if (!exposure) return Refuse(err, "the frame has no usable EXPTIME");
  const std::optional<double> zero =
      ZeroPointFor(*options.sqm_reading, reading.background.value_or(0), *exposure, *sky.pixel_scale);
  if (!zero) return Refuse(err, "the sky's background is not above 0: a dark subtracted too much, or no sky");
  const std::string line = "sqm-zero-point = " + PlainFixed(*zero, 3) + "\n# background " +
                           PlainFixed(reading.background.value_or(0), 3) + " in " + PlainFixed(*exposure, 3) + " s, " +
                           std::to_string(reading.stars) + " stars\n";
  std::fputs(line.c_str(), out);
  return 0;
}
