// SPDX-License-Identifier: GPL-3.0-or-later
// The night's events measured: synthetic nights (a star field turning about the pole, twinkling,
// noise, hot pixels, cosmic rays, a cloud bank passing) with meteors, satellites and aeroplanes
// drawn in where they are known, run through the sky analysis and the streak finder as the
// station runs them; and the finder's time beside the analysis' own on the same frames.
// usage: event_bench accuracy FRAMES SIDE [SEED]   "kind injected found called-meteor" lines,
//                                                  then "false-meteors N frames F"
//        event_bench speed SIDE ROUNDS             "analysis MS streaks MS" (medians)
//        event_bench files FITS...                 a camera's frames in order: each streak decided,
//                                                  "frame class x1 y1 x2 y2 length peak"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <array>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fits/fits_reader.h"
#include "sky/sky_analyser.h"
#include "sky/streak_finder.h"
#include "sky/trail_classifier.h"
#include "tests/sky/sky_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
double Milliseconds(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

// The sky's analysis as a station with --events runs it.
void StationAnalysis(SkyAnalyser& analyser, bool remove_hot_pixels) {
  SkySettings settings;
  settings.enabled = true;
  settings.remove_hot_pixels = remove_hot_pixels;
  analyser.Configure(settings);
}

struct Injected {
  std::string kind;  // meteor, satellite, aeroplane
  StarFieldOptions::Line line;
  unsigned first_frame = 0;
  int found = 0, called_meteor = 0, called_right = 0;
};

// A random line of `length` inside the circle.
StarFieldOptions::Line RandomLine(std::mt19937_64& random, int side, double length, double sigma) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double c = (side - 1) / 2.0, r = side / 2.0 - 20;
  for (;;) {
    const double a = 2 * std::numbers::pi * unit(random), d = r * std::sqrt(unit(random));
    const double x = c + d * std::cos(a), y = c + d * std::sin(a), t = std::numbers::pi * unit(random);
    const double x2 = x + length * std::cos(t), y2 = y + length * std::sin(t);
    if (std::hypot(x2 - c, y2 - c) < r) return {x, y, x2, y2, sigma};
  }
}

bool Near(const Streak& s, const StarFieldOptions::Line& line) {
  const auto off = [&](double x, double y) {
    const double dx = line.x2 - line.x1, dy = line.y2 - line.y1, l = std::hypot(dx, dy);
    return std::abs((x - line.x1) * dy - (y - line.y1) * dx) / l;
  };
  const double mx = (s.x1 + s.x2) / 2, my = (s.y1 + s.y2) / 2;
  const double lx = (line.x1 + line.x2) / 2, ly = (line.y1 + line.y2) / 2;
  return off(s.x1, s.y1) < 6 && off(s.x2, s.y2) < 6 &&
         std::hypot(mx - lx, my - ly) < std::hypot(line.x2 - line.x1, line.y2 - line.y1) / 2 + 10;
}

int Accuracy(int frames, int side, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  // Twelve frames a round: a meteor in frame 0 and one in frame 6, a satellite across 2-4, an
  // aeroplane across 8-11 (dashed and doubled in turn); every fifth round a cloud bank.
  std::vector<Injected> injected;
  std::map<unsigned, std::vector<size_t>> by_frame;
  for (unsigned round = 0; round * 12 < static_cast<unsigned>(frames); ++round) {
    const unsigned base = round * 12;
    for (const unsigned at : {base, base + 6}) {
      const double sigma = 5 + 15 * unit(random), length = 15 * std::pow(20.0, unit(random));
      injected.push_back({"meteor", RandomLine(random, side, length, sigma), at});
      by_frame[at].push_back(injected.size() - 1);
    }
    const double step = 60 + 80 * unit(random);
    StarFieldOptions::Line path = RandomLine(random, side, step * 3, 8 + 10 * unit(random));
    for (unsigned k = 0; k < 3; ++k) {
      StarFieldOptions::Line part = path;
      part.x1 = path.x1 + (path.x2 - path.x1) * k / 3.0 + (path.x2 - path.x1) * 0.05;
      part.y1 = path.y1 + (path.y2 - path.y1) * k / 3.0 + (path.y2 - path.y1) * 0.05;
      part.x2 = path.x1 + (path.x2 - path.x1) * (k + 1) / 3.0;
      part.y2 = path.y1 + (path.y2 - path.y1) * (k + 1) / 3.0;
      injected.push_back({"satellite", part, base + 2 + k});
      by_frame[base + 2 + k].push_back(injected.size() - 1);
    }
    path = RandomLine(random, side, 4 * (50 + 60 * unit(random)), 10 + 20 * unit(random));
    for (unsigned k = 0; k < 4; ++k) {
      StarFieldOptions::Line part = path;
      part.x1 = path.x1 + (path.x2 - path.x1) * k / 4.0;
      part.y1 = path.y1 + (path.y2 - path.y1) * k / 4.0;
      part.x2 = path.x1 + (path.x2 - path.x1) * (k + 0.8) / 4.0;
      part.y2 = path.y1 + (path.y2 - path.y1) * (k + 0.8) / 4.0;
      if (round % 2 == 0) part.dash = 6 + 4 * unit(random);
      else part.twin = 4 + 6 * unit(random);
      injected.push_back({"aeroplane", part, base + 8 + k});
      by_frame[base + 8 + k].push_back(injected.size() - 1);
    }
  }
  SkyAnalyser analyser;
  StationAnalysis(analyser, true);
  StreakFinder finder;
  TrailClassifier classifier;
  int false_meteors = 0, false_other = 0;
  const auto judge = [&](const std::vector<TrailEvent>& events) {
    for (const TrailEvent& event : events) {
      bool known = false;
      for (const size_t i : by_frame[static_cast<unsigned>(event.frame)]) {
        if (!Near(event.streak, injected[i].line)) continue;
        known = true;
        ++injected[i].found;
        injected[i].called_meteor += event.kind == TrailClass::kMeteor;
        injected[i].called_right += injected[i].kind == TrailClassName(event.kind);
        if (std::getenv("EVENT_BENCH_DEBUG"))
          std::fprintf(stderr, "frame %llu %s%s called %s (dashed %d doubled %d peak %.1f length %.0f)\n",
                       static_cast<unsigned long long>(event.frame), injected[i].kind.c_str(),
                       injected[i].line.dash > 0 ? "/dashed" : injected[i].line.twin > 0 ? "/doubled" : "",
                       TrailClassName(event.kind), event.streak.dashed, event.streak.doubled, event.streak.peak, event.streak.length);
      }
      if (!known) ++(event.kind == TrailClass::kMeteor ? false_meteors : false_other);
      if (!known && std::getenv("EVENT_BENCH_DEBUG"))
        std::fprintf(stderr, "frame %llu unknown called %s (%.0f,%.0f)-(%.0f,%.0f) peak %.1f length %.0f\n",
                     static_cast<unsigned long long>(event.frame), TrailClassName(event.kind), event.streak.x1,
                     event.streak.y1, event.streak.x2, event.streak.y2, event.streak.peak, event.streak.length);
    }
  };
  for (int f = 0; f < frames; ++f) {
    StarFieldOptions options;
    options.width = options.height = side;
    options.stars = side * side / 2000;
    options.seed = seed;
    options.frame = static_cast<unsigned>(f);
    options.turn = 2 * std::numbers::pi / 1436;  // a sidereal day of one-minute frames
    options.twinkle = 0.15;
    options.hot_pixels = 40;
    options.cosmic_rays = 20;
    if ((f / 12) % 5 == 4) options.clouded_sectors = {static_cast<int>((f % 12) % 8), static_cast<int>((f % 12 + 1) % 8)};
    for (const size_t i : by_frame[static_cast<unsigned>(f)]) options.lines.push_back(injected[i].line);
    StarFieldTruth truth;
    FrameStore store;
    PutFrame(store, MakeStarField(options, truth), side, side, "30.0");
    analyser.Prepare(store);
    const SkyReading& reading = analyser.Analyse(store, static_cast<uint64_t>(f) + 1, "");
    if (!reading.measured()) {
      judge(classifier.Break());
      finder.Forget();
      continue;
    }
    const std::vector<Streak> streaks = finder.Find(analyser.signal(), 5, 15);
    judge(classifier.Next(static_cast<uint64_t>(f), streaks, [&](const Streak& s) { return finder.LevelAlong(s); }));
  }
  judge(classifier.Break());
  std::map<std::string, std::array<int, 4>> totals;  // injected, found, called meteor, called right
  for (const Injected& i : injected) {
    // The first frame has none before it to be compared with, the last none after it to decide it.
    if (i.first_frame == 0 || i.first_frame + 1 >= static_cast<unsigned>(frames)) continue;
    if (i.found == 0 && std::getenv("EVENT_BENCH_DEBUG"))
      std::fprintf(stderr, "missed %s in frame %u: (%.0f,%.0f)-(%.0f,%.0f) %.1f sigma\n", i.kind.c_str(), i.first_frame,
                   i.line.x1, i.line.y1, i.line.x2, i.line.y2, i.line.peak_sigma);
    auto& t = totals[i.kind];
    ++t[0];
    t[1] += i.found > 0;
    t[2] += i.called_meteor > 0;
    t[3] += i.called_right > 0;
  }
  for (const auto& [kind, t] : totals) std::printf("%s %d %d %d %d\n", kind.c_str(), t[0], t[1], t[2], t[3]);
  std::printf("false-meteors %d false-other %d frames %d\n", false_meteors, false_other, frames);
  return 0;
}

int Speed(int side, int rounds) {
  SkyAnalyser analyser;
  StationAnalysis(analyser, false);
  StreakFinder finder;
  std::vector<double> analysis, streaks;
  for (int r = 0; r < rounds + 1; ++r) {
    StarFieldOptions options;
    options.width = options.height = side;
    options.stars = side * side / 2000;
    options.frame = static_cast<unsigned>(r);
    options.turn = 2 * std::numbers::pi / 1436;
    StarFieldTruth truth;
    FrameStore store;
    PutFrame(store, MakeStarField(options, truth), side, side, "30.0");
    auto start = Clock::now();
    analyser.Analyse(store, static_cast<uint64_t>(r) + 1, "");
    const double a = Milliseconds(start);
    start = Clock::now();
    finder.Find(analyser.signal(), 5, 15);
    const double s = Milliseconds(start);
    if (r > 0) {  // the first has no frame before it to compare with
      analysis.push_back(a);
      streaks.push_back(s);
    }
  }
  std::sort(analysis.begin(), analysis.end());
  std::sort(streaks.begin(), streaks.end());
  std::printf("analysis %.1f streaks %.1f\n", analysis[analysis.size() / 2], streaks[streaks.size() / 2]);
  return 0;
}

int Files(const std::vector<std::string>& paths) {
  SkyAnalyser analyser;
  StationAnalysis(analyser, true);
  StreakFinder finder;
  TrailClassifier classifier;
  const auto say = [&](const std::vector<TrailEvent>& events) {
    for (const TrailEvent& e : events)
      std::printf("%s %s %.0f %.0f %.0f %.0f %.0f %.1f%s%s\n", paths[e.frame].c_str(), TrailClassName(e.kind), e.streak.x1,
                  e.streak.y1, e.streak.x2, e.streak.y2, e.streak.length, e.streak.peak, e.streak.dashed ? " dashed" : "",
                  e.streak.doubled ? " doubled" : "");
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    static FrameStore store;
    store.LargeFrames = true;
    store.LiveFilePath = paths[i];
    FrameReader reader;
    struct : HeaderErrorSink {
      void ShowHeaderError(const std::string&) override {}
    } sink;
    if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) {
      say(classifier.Break());
      finder.Forget();
      continue;
    }
    analyser.Prepare(store);
    if (!analyser.Analyse(store, i + 1, "").measured()) {
      say(classifier.Break());
      finder.Forget();
      continue;
    }
    say(classifier.Next(i, finder.Find(analyser.signal(), 5, 15), [&](const Streak& s) { return finder.LevelAlong(s); }));
  }
  say(classifier.Break());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "accuracy" && argc >= 4)
    return Accuracy(std::stoi(argv[2]), std::stoi(argv[3]), argc > 4 ? static_cast<unsigned>(std::stoul(argv[4])) : 1);
  if (mode == "speed" && argc >= 4) return Speed(std::stoi(argv[2]), std::stoi(argv[3]));
  if (mode == "files" && argc >= 3) return Files(std::vector<std::string>(argv + 2, argv + argc));
  std::fprintf(stderr, "usage: event_bench accuracy FRAMES SIDE [SEED] | speed SIDE ROUNDS | files FITS...\n");
  return 2;
}
