#pragma once
// The system's requests to stop, turned into a call on the event loop's thread: on POSIX systems
// SIGTERM, SIGINT and SIGHUP (a signal handler may do almost nothing, so it only writes a byte
// into a pipe that the event loop watches); on Windows a console's Ctrl-C or Ctrl-Break, its
// closing, the user logging off and the system shutting down (the handler's thread waits, within
// Windows' own bound, until the station has stopped, since the process ends when it returns).
// Windows tells a program that loads user32 (every Qt program) of a logoff or a shutdown by
// window messages, not console events: a hidden window of its own takes them.

#include <functional>
#include <memory>
#include <string>

#include <QObject>

class StopSignals {
 public:
  /// Installs the handlers; `on_stop` runs on the event loop's thread after a signal. Signals
  /// that arrive before the loop gets to them are one call: a second stop request adds nothing.
  /// `stopped` tells whether the station has stopped: the end of a Windows session waits for it.
  StopSignals(std::function<void()> on_stop, std::function<bool()> stopped);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// Empty when the handlers are installed; otherwise why not (the signals then end the program
  /// as they would without the station).
  const std::string& failure() const { return failure_; }

 private:
  std::function<void()> on_stop_;
  std::function<bool()> stopped_;
  std::unique_ptr<QObject> watcher_;
  std::string failure_;
};

/// A reader that goes away (a log pipe, a closed terminal) must not end the station: a write to
/// it fails instead. Nothing to do where a broken pipe raises no signal.
void IgnoreBrokenPipes();
