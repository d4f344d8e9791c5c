// SPDX-License-Identifier: GPL-3.0-or-later
// The sky analysis measured: its accuracy against synthetic frames whose stars are known, its
// counts beside the same frames written for the Python job, and its time against SEP's own
// background and extraction on the same data (the floor), with the memory it takes beyond the
// frame's.
// usage: sky_bench accuracy                 one line per frame: found% false% hot background% sqm
//        sky_bench peer DIR                 writes DIR/sky-N.fits and prints "N CX CY R STARS"
//        sky_bench speed WxH ROUNDS [FITS]  "analysis MS floor MS bin" (medians); with FITS, the frame
//                                           is also written there for the Python job and memory
//        sky_bench night PNG                a night of synthetic frames (dusk, a passing cloud bank,
//                                           dawn) analysed every 5 minutes, drawn as the night's chart
//        sky_bench memory FITS              "extra-MB frame-MB": the peak memory the analysis adds to
//                                           a process that has read the frame, and the frame's own

#include <sys/resource.h>

#include <cstddef>  // sep.h uses size_t without saying where it comes from
extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "fits/fits_reader.h"
#include "night/sky_chart.h"
#include "sky/sky_analyser.h"
#include "sky/sky_image.h"
#include "sky/star_extraction.h"
#include "tests/sky/sky_frames.h"
#include "tests/support/fits_builder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void WriteFits(const std::string& path, const std::vector<uint16_t>& frame, int width, int height) {
  std::vector<int64_t> samples;
  samples.reserve(frame.size());
  for (const uint16_t value : frame) samples.push_back(int64_t{value} - 32768);
  FitsBuilder::Frame(16, width, height, {ValueCard("BZERO", "32768"), ValueCard("EXPTIME", "30.0")})
      .Samples(samples, 2)
      .Write(path);
}

int Accuracy() {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    StarFieldOptions options;
    options.seed = seed;
    options.stars = 1500;
    options.gradient = 0.2;
    StarFieldTruth truth;
    FrameStore store;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height, "30.0");
    SkySettings settings;
    settings.enabled = true;
    settings.zero_point = 20;
    settings.pixel_scale = 150;
    SkyAnalyser analyser;
    analyser.Configure(settings);
    const SkyReading reading = analyser.Analyse(store, seed, "");
    SkyImage image;
    StarField field;
    MakeSkyImage(store, false, image);
    ExtractStars(image, LargestCentredCircle(options.width, options.height), 5, field);
    std::vector<std::pair<double, double>> found;
    for (const StarField::Star& star : field.stars) found.emplace_back(star.x, star.y);
    const StarMatch match = MatchStars(truth, found, options.width);
    const double true_sqm = 20 - 2.5 * std::log10(truth.sky_at_centre / (30 * 150.0 * 150.0));
    std::printf("%.2f %.2f %d %.3f %.4f\n", 100.0 * match.wanted_found / match.wanted,
                100.0 * match.spurious / static_cast<double>(truth.stars.size()), match.on_hot,
                100.0 * (reading.background.value_or(0) - truth.sky_at_centre) / truth.sky_at_centre,
                reading.sqm.value_or(0) - true_sqm);
  }
  return 0;
}

int Peer(const std::string& dir) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    StarFieldOptions options;
    options.seed = seed;
    options.stars = 1500;
    options.hot_pixels = options.cosmic_rays = 0;  // which the station leaves out and the job counts
    StarFieldTruth truth;
    const std::vector<uint16_t> frame = MakeStarField(options, truth);
    const std::string path = dir + "/sky-" + std::to_string(seed) + ".fits";
    WriteFits(path, frame, options.width, options.height);
    FrameStore store;
    PutFrame(store, frame, options.width, options.height);
    SkyImage image;
    StarField field;
    const SkyCircle circle = LargestCentredCircle(options.width, options.height);
    MakeSkyImage(store, false, image);
    ExtractStars(image, circle, 5, field);
    // SEP counts pixel centres from 0: the circle's centre in its terms is half a pixel less.
    std::printf("%s %.2f %.2f %.2f %zu\n", path.c_str(), circle.cx - 0.5, circle.cy - 0.5, circle.r, field.stars.size());
  }
  return 0;
}

// SEP's own work on the frame as floats: the background, its subtraction, the extraction. The
// frame's copy into floats is not counted: the floor is the library's time alone.
double Floor(const std::vector<float>& frame, int width, int height) {
  std::vector<float> data = frame;
  const Clock::time_point start = Clock::now();
  sep_image image{};
  image.data = data.data();
  image.dtype = SEP_TFLOAT;
  image.w = width;
  image.h = height;
  image.noise_type = SEP_NOISE_STDDEV;
  sep_bkg* background = nullptr;
  sep_background(&image, kMeshSide, kMeshSide, 3, 3, 0.0, &background);
  sep_bkg_subarray(background, data.data(), SEP_TFLOAT);
  image.noiseval = sep_bkg_globalrms(background);
  static const float kKernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
  sep_catalog* catalog = nullptr;
  sep_extract(&image, 5, SEP_THRESH_REL, kLeastStarPixels, kKernel, 3, 3, SEP_FILTER_CONV, 32, 0.005, 1, 1.0, &catalog);
  const double ms = Milliseconds(start);
  sep_catalog_free(catalog);
  sep_bkg_free(background);
  return ms;
}

int Speed(int width, int height, int rounds, const std::string& fits) {
  StarFieldOptions options;
  options.width = width;
  options.height = height;
  options.stars = std::min(20000, static_cast<int>(1500.0 * width * height / (1537.0 * 1537)));
  StarFieldTruth truth;
  const std::vector<uint16_t> frame = MakeStarField(options, truth);
  if (!fits.empty()) WriteFits(fits, frame, width, height);
  static FrameStore store;
  store.LargeFrames = true;
  PutFrame(store, frame, width, height);
  const int bin = SkyBinFor(width, height, false);
  const int floor_width = width / bin, floor_height = height / bin;
  SkySettings settings;
  settings.enabled = true;
  SkyAnalyser analyser;
  analyser.Configure(settings);
  std::vector<double> analysis, floor;
  std::vector<float> floats;  // the floor works on the same pixels as the analysis
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    analyser.Analyse(store, static_cast<uint64_t>(round) + 1, "");
    analyser.Restore(store);
    analysis.push_back(Milliseconds(start));
    if (round == 0) {
      SkyImage image;
      MakeSkyImage(store, false, image);
      floats = std::move(image.pixels);
    }
    floor.push_back(Floor(floats, floor_width, floor_height));
  }
  std::printf("%.1f %.1f %d\n", Median(analysis), Median(floor), bin);
  return 0;
}

// In a process that holds only the frame as the station reads it (the reader's buffers kept), the
// peak memory before and after the analysis: nothing freed before could hide what it takes.
int Memory(const std::string& fits) {
  static FrameStore store;
  store.LargeFrames = true;
  store.LiveFilePath = fits;
  FrameReader reader;
  struct : HeaderErrorSink {
    void ShowHeaderError(const std::string&) override {}
  } sink;
  if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) return 1;
  SkySettings settings;
  settings.enabled = true;
  settings.remove_hot_pixels = true;
  SkyAnalyser analyser;
  analyser.Configure(settings);
  const long before = PeakKilobytes();
  analyser.Prepare(store);
  analyser.Analyse(store, 1, "2026-12-08");
  analyser.Restore(store);
  const FrameExtent extent = WalkableExtent(store);
  std::printf("%.1f %.1f\n", (PeakKilobytes() - before) / 1024.0, 4.0 * extent.width * extent.height / 1048576.0);
  return 0;
}

// Twelve hours from 18:00, a frame every 5 minutes: the sky bright at dusk and dawn, dark between,
// a cloud bank that covers more and more sectors from 22:00 and clears by 23:40. The station's own
// analysis of each frame, drawn as the night's chart.
int Night(const std::string& png) {
  SkySettings settings;
  settings.enabled = true;
  settings.zero_point = 12.5;
  settings.pixel_scale = 324;
  SkyAnalyser analyser;
  analyser.Configure(settings);
  std::vector<SkyLogLine> lines;
  const QDateTime dusk(QDate(2026, 12, 8), QTime(18, 0));
  FrameStore store;
  for (int i = 0; i <= 144; ++i) {
    const double hours = i / 12.0;
    StarFieldOptions options;
    options.width = options.height = 700;
    options.stars = 500;
    options.hot_pixels = 10;
    options.frame = static_cast<unsigned>(i);
    options.drift = 0;  // stars that drift out of the circle would read as clouds in its edge
    options.sky = 800 + 30000 * (std::exp(-hours / 0.35) + std::exp(-(12 - hours) / 0.35));
    const double cloud = hours < 4 || hours > 5.7 ? 0 : std::sin((hours - 4) / 1.7 * 3.14159);
    for (int sector = 0; sector < static_cast<int>(std::lround(cloud * 12)); ++sector)
      options.clouded_sectors.push_back((sector * 5) % 16);
    StarFieldTruth truth;
    PutFrame(store, MakeStarField(options, truth), options.width, options.height, "30.0");
    const SkyReading reading = analyser.Analyse(store, static_cast<uint64_t>(i) + 1, "2026-12-08");
    SkyLogLine line;
    line.time = dusk.addSecs(i * 300);
    if (reading.measured()) {
      line.stars = reading.stars;
      line.background = reading.background;
      line.background_per_s = reading.background_per_s;
      line.sqm = reading.sqm;
      line.clear = reading.clear;
    }
    lines.push_back(line);
  }
  return MakeSkyChart(lines, dusk.date()).save(QString::fromStdString(png)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "accuracy") return Accuracy();
  if (mode == "peer" && argc > 2) return Peer(argv[2]);
  if (mode == "memory" && argc > 2) return Memory(argv[2]);
  if (mode == "night" && argc > 2) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);  // the chart's lettering wants the fonts
    return Night(argv[2]);
  }
  int width = 0, height = 0;
  if (mode == "speed" && argc > 3 && std::sscanf(argv[2], "%dx%d", &width, &height) == 2)
    return Speed(width, height, std::stoi(argv[3]), argc > 4 ? argv[4] : "");
  std::fprintf(stderr, "usage: sky_bench accuracy | peer DIR | speed WxH ROUNDS [FITS] | memory FITS | night PNG\n");
  return 2;
}
