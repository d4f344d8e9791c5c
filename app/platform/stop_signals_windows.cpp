// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include <QCoreApplication>

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

std::function<bool()>* has_stopped = nullptr;
HWND session_window = nullptr;  // the hidden window that hears of the session's end

// Requests that arrive before the loop gets to the first are one call. Called with `mutex` held.
void AskToStop() {
  if (pending.exchange(true)) return;
  std::function<void()>* call = on_stop;
  QMetaObject::invokeMethod(receiver, [call] {
    pending = false;
    (*call)();
  }, Qt::QueuedConnection);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::unique_lock<std::mutex> lock(mutex);
  if (!current) return FALSE;
  AskToStop();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  stopped_changed.wait_for(lock, kEndingBound, [] { return stopped; });
  return TRUE;
}

// On the event loop's own thread: the session ends once this returns from WM_ENDSESSION, so the
// loop is run here until the station has stopped, within Windows' bound.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_QUERYENDSESSION) return TRUE;  // the station stops; it never holds Windows back
  if (message != WM_ENDSESSION || !wparam) return DefWindowProcW(window, message, wparam, lparam);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!current) return 0;
    AskToStop();
  }
  const auto until = std::chrono::steady_clock::now() + kEndingBound;
  while (!(*has_stopped)() && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  return 0;
}

constexpr wchar_t kSessionWindowClass[] = L"QorLiveSessionEnd";

HWND MakeSessionWindow() {
  WNDCLASSW type{};
  type.lpfnWndProc = OnSessionMessage;
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = kSessionWindowClass;
  RegisterClassW(&type);  // a second station object finds it registered already
  // A top-level window, never shown: a message-only window hears no broadcasts.
  return CreateWindowExW(0, kSessionWindowClass, L"QOR Live", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         type.hInstance, nullptr);
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop_call, std::function<bool()> stopped_call)
    : on_stop_(std::move(on_stop_call)), stopped_(std::move(stopped_call)) {
  watcher_ = std::make_unique<QObject>();
  {
    std::lock_guard<std::mutex> lock(mutex);
    current = this;
    stopped = false;
    receiver = watcher_.get();
    on_stop = &on_stop_;
    has_stopped = &stopped_;
  }
  session_window = MakeSessionWindow();
  // Started in a process group of its own (as launchers and schedulers start programs), a console
  // program ignores Ctrl-C unless it asks for it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
    failure_ = "cannot watch the console (error " + std::to_string(GetLastError()) + ")";
}

StopSignals::~StopSignals() {
  if (session_window) DestroyWindow(std::exchange(session_window, nullptr));
  {
    std::lock_guard<std::mutex> lock(mutex);
    current = nullptr;
    stopped = true;
  }
  stopped_changed.notify_all();
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

void IgnoreBrokenPipes() {}
