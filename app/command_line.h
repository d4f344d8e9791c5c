#pragma once
// The command line of qor_live. Without options the station opens its window and waits for
// Start, as it always has; every option is opt-in.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/live_cycle.h"

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kError, kCalibrate };
  Action action = Action::kRun;
  std::string error;  // for kError: what was wrong, in one line

  bool start = false;     // press Start once the settings are loaded
  bool headless = false;  // no window and no display server; Start pressed at launch
  CycleOptions cycle;  // --interval, --stale-after, --archive-floor-mb
  std::optional<double> sqm_reading;  // --sqm-calibrate READING
};

/// Reads the arguments after the program name. "--interval 30" and "--interval=30" are the same.
/// `whole`: these are all the options, so what one asks of another is checked too (a line of the
/// options file alone is not).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool whole = true);

/// The usage text printed by --help and after a bad command line.
extern const char* const kUsage;
