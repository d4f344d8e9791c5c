// SPDX-License-Identifier: GPL-3.0-or-later
// The night's costs: what keeping a cycle's picture adds to the cycle (1537 x 1537 frame, the
// design's picture), the time to make a night's products from N pictures (keogram, star trails,
// timelapse), the peak memory of that, and the longest a thread of the window's priority waits
// for the processor meanwhile.
// usage: night_bench PICTURES   (prints "keep_ms products_s peak_mb longest_wait_ms")

#include <sys/resource.h>

#include <QGuiApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "night/night_recorder.h"
#include "night/night_review.h"
#include "bench/sample_frames.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/night_products.h"
#include "display/snapshot_export.h"
#include "fits/fits_reader.h"
#include "tests/support/temp_dir.h"

namespace {

class NoSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: night_bench PICTURES\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const int count = std::stoi(argv[1]);
  TempDir dir;

  // A 1537 x 1537 frame drawn and exported as the station does; then the night's part alone.
  static FrameStore store;
  store.LiveFilePath = WriteSkyFits(dir.File("live.fts"), 1537, 1537, 16);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FrameReader reader;
  NoSink sink;
  PictureSurface picture;
  reader.ReadLiveFrame(store, sink);
  ComputeDisplayRange(store);
  RenderFrame(store, picture);
  const QImage plain = picture.Image();
  LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
  ExportSnapshot(picture, dir.path().string());
  NightRecorder recorder(dir.File("nights"));
  NightOptions options;
  options.enabled = true;
  recorder.SetOptions(options, 0);
  const QDateTime dusk(QDate(2026, 12, 7), QTime(18, 0));
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    recorder.Record(dusk.addSecs(60 * i), dir.File("live2.jpg"), plain, RawBackground(store));
  const double keep_ms = Milliseconds(Clock::now() - start) / count;
  const std::string folder = *recorder.Stop();

  // The pictures of a turning sky for the products: each kept picture replaced by its own.
  for (const NightPicture& kept : ReadNightPictures(folder)) {
    const int i = std::stoi(kept.name.substr(0, 2)) * 60 + std::stoi(kept.name.substr(2, 2));
    QImage sky(423, 316, QImage::Format_RGB32);
    sky.fill(qRgb(10, 10, 14));
    for (int star = 0; star < 60; ++star) {
      const double radius = 5 + 4.5 * star, angle = 0.004 * i + star * 1.7;
      const int x = 211 + static_cast<int>(radius * std::cos(angle)), y = 158 + static_cast<int>(radius * std::sin(angle));
      if (x >= 0 && x < 423 && y >= 0 && y < 316) sky.setPixel(x, y, qRgb(255, 255, 240));
    }
    SaveImageJpeg(sky, folder + "/" + kept.name, 90);
    SaveImageJpeg(sky, folder + "/." + kept.name.substr(0, 6) + ".plain.jpg", 90);
  }

  // The products beside a thread that wakes every millisecond, as the window's would.
  std::atomic<bool> done{false};
  double longest_wait = 0;
  std::thread window([&] {
    while (!done) {
      const auto before = Clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      longest_wait = std::max(longest_wait, Milliseconds(Clock::now() - before) - 1.0);
    }
  });
  NightReviewer reviewer;
  const auto made = Clock::now();
  reviewer.Ask(folder);
  reviewer.WaitIdle();
  const double products_s = std::chrono::duration<double>(Clock::now() - made).count();
  done = true;
  window.join();
  rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  if (!std::filesystem::exists(folder + "/timelapse.mp4")) {
    std::fprintf(stderr, "night_bench: no timelapse\n");
    return 1;
  }
  std::printf("%.2f %.2f %.0f %.1f\n", keep_ms, products_s, usage.ru_maxrss / 1024.0, longest_wait);
  return 0;
}
