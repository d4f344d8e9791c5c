#include "app/platform/stop_signals.h"

#include <fcntl.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int signal_pipe[2] = {-1, -1};
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> on_stop, std::function<bool()> stopped)
    : on_stop_(std::move(on_stop)), stopped_(std::move(stopped)) {
  if (signal_pipe[0] < 0 && pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    failure_ = std::string("cannot make the signal pipe: ") + std::strerror(errno);
    return;
  }
  auto notifier = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
    char bytes[16];
    while (read(signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    on_stop_();
  });
  watcher_ = std::move(notifier);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int stop : kStopSignals) sigaction(stop, &action, nullptr);
}

StopSignals::~StopSignals() {
  for (const int stop : kStopSignals) signal(stop, SIG_DFL);
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }
