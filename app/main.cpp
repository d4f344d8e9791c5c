// The live-camera station: one window that publishes the camera's newest frame once a minute, or
// the same station without a window (--headless) for a computer with no screen.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>

#include "app/command_line.h"
#include "app/headless_station.h"
#include "app/main_window.h"
#include "app/stop_signals.h"

namespace {

// Headless, standard output and error are the station's log for a service manager or cron: Qt's
// own notes (such as the one about XDG_RUNTIME_DIR, which a service has none of) are not lines of
// the station's. What Qt thinks critical still goes to standard error.
void KeepQtNotesOut(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "qor_live: %s\n", message.toLocal8Bit().constData());
}

void SayIfSignalsAreNotWatched(const StopSignals& watched) {
  if (!watched.failure().empty())
    std::fprintf(stderr, "qor_live: stop signals end the program at once: %s\n", watched.failure().c_str());
}

int RunHeadless(int argc, char** argv, const CommandLine& options, FrameStore& store) {
  // The picture is still rendered and lettered: Qt's offscreen platform needs no display server.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(KeepQtNotesOut);
  QGuiApplication application(argc, argv);
  FtpClient ftp;
  HeadlessStation station(store, ftp, options.cycle, stdout);
  StopSignals stop_signals([&station] { station.RequestShutdown(); });
  SayIfSignalsAreNotWatched(stop_signals);
  QTimer::singleShot(0, [&station] { station.Start(); });
  return application.exec();
}

int RunWindow(int argc, char** argv, const CommandLine& options, FrameStore& store) {
  QApplication application(argc, argv);
  FtpClient ftp;
  Form1 window(store, ftp);
  window.SetCycleOptions(options.cycle);
  StopSignals stop_signals([&window] { window.RequestShutdown(); });
  SayIfSignalsAreNotWatched(stop_signals);
  window.show();
  if (options.start) QTimer::singleShot(0, &window, [&window] { window.Command1_Click(); });
  return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (options.action) {
    case CommandLine::Action::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case CommandLine::Action::kVersion:
      std::printf("qor_live %s\n", QOR_VERSION);
      return 0;
    case CommandLine::Action::kError:
      std::fprintf(stderr, "qor_live: %s\n%s", options.error.c_str(), kUsage);
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  // A log reader or a pipe that goes away must not end the station: a write to it fails instead.
  std::signal(SIGPIPE, SIG_IGN);
  static FrameStore store;  // 9.4 MB of pixels: created once, for the whole run
  int qt_argc = 1;  // the options are ours; Qt gets none of them
  return options.headless ? RunHeadless(qt_argc, argv, options, store) : RunWindow(qt_argc, argv, options, store);
}
