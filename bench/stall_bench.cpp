// The longest stretch in which the window could not handle events: the live cycle on a 1537 x 1537
// 16-bit frame (or a large camera's, with --large-frames and the picture fit), uploading to a
// loopback FTP server, timed between its yields (and from the last yield to its end), over 18
// cycles so that two are archive cycles.
// With "sky" the cycle also analyses the sky (--sky --hot-pixels remove) on a frame that changes a
// little before every cycle, and the longest cycle is given too: the analysis must not stretch it.
// With "events" the streaks are looked for too (--events, which brings the sky's analysis).
// usage: stall_bench [CYCLES [WxH [sky|events]]]
//   prints "longest MS archive-cycle MS other-cycles MS" and with sky " longest-cycle MS"

#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/live_cycle.h"
#include "bench/sample_frames.h"
#include "publish/ftp_client.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

class TimingHost : public LiveCycleHost {
 public:
  void Yield() override { Mark(); }
  void SetStatus(const QString&) override {}
  void Note(const QString&) override {}
  QString SiteCaption() const override { return QStringLiteral("Tamsel Observatory"); }
  std::string LiveFileText() const override { return live; }
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
  void ShowHeaderError(const std::string&) override {}

  void Mark() {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
  }
  std::string live;
  Clock::time_point last = Clock::now();
  double longest = 0;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int cycles = argc > 1 ? std::stoi(argv[1]) : 18;
  int width = 1537, height = 1537;
  if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) != 2) return 2;
  TempDir dir;
  std::filesystem::create_directories(dir.File("root/homepage"));
  PyFtpServer server(dir.File("root"));
  if (chdir(dir.path().c_str()) != 0) return 1;
  static FrameStore store;
  store.LiveFilePath = WriteSkyFits(dir.File("live.fts"), width, height, SampleFormat::k16);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FtpClient ftp;
  if (ftp.FtpConnect(server.address(), "observer", "secret") != -1 || ftp.FtpSetCD("/homepage") != -1) {
    std::fprintf(stderr, "stall_bench: cannot reach the loopback server\n");
    return 1;
  }
  PictureSurface picture;
  TimingHost host;
  host.live = store.LiveFilePath;
  LiveCycle cycle(store, picture, ftp, host);
  CycleOptions options{std::chrono::seconds(60), std::chrono::seconds(600), 0};
  options.large_frames = width > FrameStore::kSide || height > FrameStore::kSide;
  const bool events = argc > 3 && std::string(argv[3]) == "events";
  const bool sky = events || (argc > 3 && std::string(argv[3]) == "sky");
  options.sky.enabled = sky;
  options.events.enabled = events;
  options.sky.remove_hot_pixels = sky;
  cycle.set_options(options);
  // A new frame for every cycle: the last sample's low byte changes (a frame seen before is not
  // analysed again).
  const auto size = std::filesystem::file_size(store.LiveFilePath);
  const auto last_sample = static_cast<std::streamoff>(2880 + 2 * static_cast<uint64_t>(width) * height - 1);
  const auto change_frame = [&](int round) {
    if (!sky || static_cast<uintmax_t>(last_sample) >= size) return;
    std::fstream file(store.LiveFilePath, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(last_sample);
    file.put(static_cast<char>(round));
  };
  double longest_cycle = 0;
  cycle.Run();  // warm the page cache and the connection
  double longest = 0, archive_longest = 0, other_longest = 0;
  for (int i = 0; i < cycles; ++i) {
    const bool archives = cycle.frame_counter() == LiveCycle::kArchiveEvery - 1;
    change_frame(i + 1);
    host.longest = 0;
    host.last = Clock::now();
    const Clock::time_point started = host.last;
    cycle.Run();
    host.Mark();  // the stretch from the last yield to the cycle's end
    longest_cycle = std::max(longest_cycle, std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    longest = std::max(longest, host.longest);
    if (archives) archive_longest = std::max(archive_longest, host.longest);
    else other_longest = std::max(other_longest, host.longest);
  }
  std::printf("longest %.2f archive-cycle %.2f other-cycles %.2f", longest, archive_longest, other_longest);
  if (sky) std::printf(" longest-cycle %.2f", longest_cycle);
  std::printf("\n");
  return 0;
}
