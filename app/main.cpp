// The live-camera station: one window that publishes the camera's newest frame once a minute, or
// the same station without a window (--headless) for a computer with no screen.

#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QMessageBox>
#include <QGuiApplication>
#include <QTimer>

#include "app/command_line.h"
#include "camera/indi_camera.h"
#include "app/platform/console_lines.h"
#include "app/options_file.h"
#include "app/headless_station.h"
#include "app/main_window.h"
#include "app/platform/program_start.h"
#include "app/platform/stop_signals.h"
#include "app/platform/settings_path.h"
#include "app/settings_file.h"
#include "app/sqm_calibration.h"
#include "sky/dark_frame.h"
#include "sky/sky_circle.h"
#include "sky/star_extraction.h"
#include "base/run_lock.h"

namespace {

constexpr char kRunLockFileName[] = "qor_live.lock";

// Headless, standard output and error are the station's log for a service manager or cron: Qt's
// own notes (such as the one about XDG_RUNTIME_DIR, which a service has none of) are not lines of
// the station's. What Qt thinks critical still goes to standard error.
void KeepQtNotesOut(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) PrintLine(stderr, "qor_live: " + message.toStdString());
}

void SayIfSignalsAreNotWatched(const StopSignals& watched) {
  if (!watched.failure().empty())
    PrintLine(stderr, "qor_live: stop signals end the program at once: " + watched.failure());
}

// Fonts that came with the program (the Windows build brings IPA Gothic for the captions, which
// Windows lacks under that name) are the program's own; a system without the folder has its own.
void AddBundledFonts() {
  const QDir fonts(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
  for (const QString& name : fonts.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files))
    QFontDatabase::addApplicationFont(fonts.filePath(name));
}

int RunHeadless(int argc, char** argv, const CommandLine& options, FrameStore& store) {
  // The picture is still rendered and lettered: Qt's offscreen platform needs no display server.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(KeepQtNotesOut);
  QGuiApplication application(argc, argv);
  AddBundledFonts();
  FtpClient ftp;
  HeadlessStation station(store, ftp, options.cycle, stdout);
  StopSignals stop_signals([&station] { station.RequestShutdown(); }, [&station] { return station.Stopped(); });
  SayIfSignalsAreNotWatched(stop_signals);
  QTimer::singleShot(0, [&station] { station.Start(); });
  return application.exec();
}

int RunWindow(int argc, char** argv, const CommandLine& options, FrameStore& store) {
  LeaveOwnConsole();
  QApplication application(argc, argv);
  AddBundledFonts();
  FtpClient ftp;
  Form1 window(store, ftp);
  window.SetCycleOptions(options.cycle);
  StopSignals stop_signals([&window] { window.RequestShutdown(); }, [&window] { return window.Stopped(); });
  SayIfSignalsAreNotWatched(stop_signals);
  window.show();
  if (options.start) QTimer::singleShot(0, &window, [&window] { window.Command1_Click(); });
  return application.exec();
}

// A qor_live.conf that is not understood, or another station in this folder, stops the station
// before anything starts. A window says so in a box first.
int RefuseToStart(char** argv, const std::string& error, bool headless) {
  PrintLine(stderr, "qor_live: " + error);
  if (!headless && CanShowWindows()) {
    int qt_argc = 1;
    QApplication application(qt_argc, argv);
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kWindowTitle), QString::fromUtf8(error),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    if (qEnvironmentVariable("QT_QPA_PLATFORM") != QStringLiteral("offscreen")) box.exec();
  }
  return 2;
}

// What is wrong with the sky's settings, or nothing: a dark that cannot be read or is not one
// plane of whole numbers, or a sky circle whose centre lies outside the dark's (the frames') size.
std::string SkyRefusal(const SkySettings& settings) {
  if (settings.enabled && !StarExtractionAvailable())
    return "--sky: this build cannot find stars: it was made without SEP's C library (the README says why)";
  if (settings.dark_path.empty()) return {};
  DarkFrame dark;
  if (const Outcome loaded = LoadDarkFrame(settings.dark_path, dark); !loaded.ok)
    return "--dark " + settings.dark_path + ": " + loaded.reason;
  // The live frame as it is now, where there is one: a dark of another size is a mistake to say
  // at once, not a line in the log at the first frame of the night.
  const SettingsBytes ini = LoadSettingsBytes(kSettingsFileName);
  if (const std::optional<std::string> live = FilePathFromSettings(ini.lines[0].value_or(kDefaultSettingsTexts[0])))
    if (const std::optional<FitsSize> frame = FitsFrameSize(*live); frame && (frame->width != dark.width || frame->height != dark.height))
      return "--dark " + settings.dark_path + ": the dark is " + std::to_string(dark.width) + " x " +
             std::to_string(dark.height) + ", the live frame " + std::to_string(frame->width) + " x " +
             std::to_string(frame->height);
  if (settings.circle && !CentreInFrame(*settings.circle, dark.width, dark.height))
    return "--sky-circle: its centre lies outside the frames (" + std::to_string(dark.width) + " x " +
           std::to_string(dark.height) + ", the dark's size)";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> command_line = ProgramArguments(argc, argv);
  const OptionsFile file = ReadOptionsFile(kOptionsFileName);
  if (!file.error.empty()) {
    const CommandLine plain = ParseCommandLine(command_line);
    // --help and --version answer whatever the file says.
    if (plain.action != CommandLine::Action::kHelp && plain.action != CommandLine::Action::kVersion)
      return RefuseToStart(argv, file.error, plain.headless);
  }
  const CommandLine options = ParseCommandLine(WithFileOptions(file, command_line));
  switch (options.action) {
    case CommandLine::Action::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case CommandLine::Action::kVersion:
      std::printf("qor_live %s\n", QOR_VERSION);
      return 0;
    case CommandLine::Action::kError:
      PrintLine(stderr, "qor_live: " + options.error);
      std::fputs(kUsage, stderr);
      return 2;
    case CommandLine::Action::kCalibrate:
      return CalibrateSqm(options, stdout, stderr);
    case CommandLine::Action::kRun:
      break;
  }
  // A dark that cannot be used is refused now, not found out at the first frame in the night.
  if (const std::string why = SkyRefusal(options.cycle.sky); !why.empty())
    return RefuseToStart(argv, why, options.headless);
  if (options.cycle.camera.enabled() && !IndiCameraAvailable())
    return RefuseToStart(argv, "--camera: this build has no INDI client (INDI cameras are driven on Linux)", options.headless);
  // Held for the whole run; the system lets it go when the program ends, however it ends.
  static RunLock lock;
  std::string why;
  switch (lock.Take(kRunLockFileName, why)) {
    case RunLock::Result::kTaken:
      break;
    case RunLock::Result::kHeldByAnother:
      return RefuseToStart(argv, "another station runs in this folder (" + QDir::currentPath().toStdString() +
                                     "): one station to a working folder", options.headless);
    case RunLock::Result::kFailed:
      return RefuseToStart(argv, std::string(kRunLockFileName) + ": cannot lock it: " + why, options.headless);
  }
  IgnoreBrokenPipes();
  static FrameStore store;  // 9.4 MB of pixels: created once, for the whole run
  int qt_argc = 1;  // the options are ours; Qt gets none of them
  return options.headless ? RunHeadless(qt_argc, argv, options, store) : RunWindow(qt_argc, argv, options, store);
}
