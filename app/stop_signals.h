#pragma once
// SIGTERM and SIGINT, turned into a call on the event loop's thread: a signal handler may do
// almost nothing, so it only writes a byte into a pipe that the event loop watches.

#include <functional>
#include <memory>

#include <QSocketNotifier>

class StopSignals {
 public:
  /// Installs the handlers; `on_stop` runs on the event loop's thread, once per signal received.
  explicit StopSignals(std::function<void()> on_stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::function<void()> on_stop_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
