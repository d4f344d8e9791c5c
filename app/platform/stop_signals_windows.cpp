// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Windows ends a process whose console closes, or whose user logs off or whose system shuts
// down, five seconds after asking (or as soon as the handler returns): the handler waits a little
// less than that for the station to stop.
constexpr auto kEndingBound = std::chrono::milliseconds(4500);

std::mutex mutex;
std::condition_variable stopped_changed;
StopSignals* current = nullptr;
bool stopped = false;
std::atomic<bool> pending = false;
QObject* receiver = nullptr;
std::function<void()>* on_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::unique_lock<std::mutex> lock(mutex);
  if (!current) return FALSE;
  // Requests that arrive before the loop gets to the first are one call.
  if (!pending.exchange(true)) {
    std::function<void()>* call = on_stop;
    QMetaObject::invokeMethod(receiver, [call] {
      pending = false;
      (*call)();
    }, Qt::QueuedConnection);
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  stopped_changed.wait_for(lock, kEndingBound, [] { return stopped; });
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop_call) : on_stop_(std::move(on_stop_call)) {
  watcher_ = std::make_unique<QObject>();
  {
    std::lock_guard<std::mutex> lock(mutex);
    current = this;
    stopped = false;
    receiver = watcher_.get();
    on_stop = &on_stop_;
  }
  // Started in a process group of its own (as launchers and schedulers start programs), a console
  // program ignores Ctrl-C unless it asks for it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
    failure_ = "cannot watch the console (error " + std::to_string(GetLastError()) + ")";
}

StopSignals::~StopSignals() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    current = nullptr;
    stopped = true;
  }
  stopped_changed.notify_all();
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

void IgnoreBrokenPipes() {}
