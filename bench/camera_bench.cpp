// The delay from asking the station's own camera for an exposure to the published picture, beyond
// the exposure itself, against the ordinary cycle on the same frame: INDI's CCD simulator under
// indiserver (started by camera_benchmarks.sh), a loopback FTP server, the real live cycle.
// usage: camera_bench PORT [ROUNDS [EXPOSURE]]
//   prints one line a round and a median line: "exposure S camera MS station MS cycle MS ordinary MS
//   ratio R own R": camera is all beyond the exposure until the frame is in the live file, station
//   its share from libindi's delivery of the frame; ratio is (camera + cycle) / ordinary, own
//   (station + cycle) / ordinary.

#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/live_cycle.h"
#include "base/atomic_file.h"
#include "camera/indi_camera.h"
#include "publish/ftp_client.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

class QuietHost : public LiveCycleHost {
 public:
  void Yield() override {}
  void SetStatus(const QString& text) override { last_status = text; }
  void Note(const QString&) override {}
  QString SiteCaption() const override { return QStringLiteral("Tamsel Observatory"); }
  std::string LiveFileText() const override { return live; }
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
  void ShowHeaderError(const std::string&) override {}
  std::string live;
  QString last_status;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: camera_bench PORT [ROUNDS [EXPOSURE]]\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);  // as the station does: libindi may write to a server that went
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int port = std::stoi(argv[1]);
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 12;
  const double exposure = argc > 3 ? std::stod(argv[3]) : 0.5;

  TempDir dir;
  std::filesystem::create_directories(dir.File("root/homepage"));
  PyFtpServer server(dir.File("root"));
  if (chdir(dir.path().c_str()) != 0) return 1;
  static FrameStore store;
  store.LiveFilePath = dir.File("live.fts");
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FtpClient ftp;
  if (ftp.FtpConnect(server.address(), "observer", "secret") != -1 || ftp.FtpSetCD("/homepage") != -1) {
    std::fprintf(stderr, "camera_bench: cannot reach the loopback server\n");
    return 1;
  }
  PictureSurface picture;
  QuietHost host;
  host.live = store.LiveFilePath;
  LiveCycle cycle(store, picture, ftp, host);
  cycle.set_options(CycleOptions{std::chrono::seconds(60), std::chrono::seconds(0), 0});

  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<CameraReport> reports;
  CameraSettings settings;
  settings.text = "indi://127.0.0.1:" + std::to_string(port) + "/CCD%20Simulator";
  settings.address.port = port;
  settings.address.host = "127.0.0.1";
  settings.address.device = "CCD Simulator";
  settings.exposure.seconds = exposure;
  IndiCamera camera(settings, [&](const CameraReport& report) {
    std::lock_guard<std::mutex> lock(mutex);
    if (report.kind != CameraReport::Kind::kNote) reports.push_back(report);
    arrived.notify_all();
  });
  camera.Begin();
  CameraTarget target;
  target.live_path = store.LiveFilePath;

  std::vector<double> camera_parts, station_parts, cycles, ordinaries, ratios, own_ratios;
  for (int round = 0; round <= rounds; ++round) {
    while (!camera.Expose(target)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Clock::time_point asked = Clock::now();
    CameraReport report;
    {
      std::unique_lock<std::mutex> lock(mutex);
      if (!arrived.wait_for(lock, std::chrono::seconds(60), [&] { return !reports.empty(); })) {
        std::fprintf(stderr, "camera_bench: no frame within a minute\n");
        return 1;
      }
      report = reports.front();
      reports.clear();
    }
    if (report.kind != CameraReport::Kind::kFrame) {
      std::fprintf(stderr, "camera_bench: %s\n", report.text.c_str());
      return 1;
    }
    const Clock::time_point written = Clock::now();
    if (report.written) cycle.TrustWhole(*report.written);  // as the station does
    const Clock::time_point cycle_start = Clock::now();
    cycle.Run();
    const Clock::time_point published = Clock::now();
    if (!host.last_status.startsWith(QStringLiteral("Live start"))) {
      std::fprintf(stderr, "camera_bench: the cycle ended with \"%s\"\n", host.last_status.toUtf8().constData());
      return 1;
    }
    // The ordinary cycle: the same frame as capture software leaves it, a new file written a
    // moment before the cycle (past the moment in which a write might not show yet).
    {
      std::ifstream in(store.LiveFilePath, std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!WriteFileAtomically(store.LiveFilePath, bytes.data(), bytes.size(), 0666, Durability::kReplaceOnly).ok) return 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const Clock::time_point again = Clock::now();
    cycle.Run();
    const double ordinary = Milliseconds(Clock::now() - again);
    const double camera_part = Milliseconds(written - asked) - 1000 * exposure;
    // Of it, the station's own share: from libindi's delivery of the frame to the written file.
    const double station_part = Milliseconds(written - report.delivered);
    const double beyond = camera_part + Milliseconds(published - written);
    if (round == 0) continue;  // the first warms the connection and the page cache
    camera_parts.push_back(camera_part);
    station_parts.push_back(station_part);
    cycles.push_back(Milliseconds(published - cycle_start));
    ordinaries.push_back(ordinary);
    ratios.push_back(beyond / ordinary);
    own_ratios.push_back((station_part + cycles.back()) / ordinary);
    std::printf("round %d exposure %.3f camera %.1f station %.1f cycle %.1f ordinary %.1f ratio %.2f\n", round, exposure,
                camera_part, station_part, cycles.back(), ordinary, ratios.back());
  }
  camera.End();
  std::printf("median exposure %.3f camera %.1f station %.1f cycle %.1f ordinary %.1f ratio %.2f own %.2f\n", exposure,
              Median(camera_parts), Median(station_parts), Median(cycles), Median(ordinaries), Median(ratios),
              Median(own_ratios));
  return 0;
}
