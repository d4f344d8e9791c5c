#pragma once
// SIGTERM, SIGINT and SIGHUP, turned into a call on the event loop's thread: a signal handler may
// do almost nothing, so it only writes a byte into a pipe that the event loop watches.

#include <functional>
#include <memory>
#include <string>

#include <QSocketNotifier>

class StopSignals {
 public:
  /// Installs the handlers; `on_stop` runs on the event loop's thread after a signal. Signals
  /// that arrive before the loop gets to them are one call: a second stop request adds nothing.
  explicit StopSignals(std::function<void()> on_stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// Empty when the handlers are installed; otherwise why not (the signals then end the program
  /// as they would without the station).
  const std::string& failure() const { return failure_; }

 private:
  std::function<void()> on_stop_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string failure_;
};
