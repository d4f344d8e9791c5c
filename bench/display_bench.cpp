// The display pipeline on the largest frame of realistic 16-bit sky: each stage, and the whole
// chain read -> range -> render -> letter -> BMP -> JPEG as one live cycle runs it.

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "bench/sample_frames.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/snapshot_export.h"
#include "fits/fits_reader.h"

namespace {

class NoSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

FrameStore& LoadedStore() {
  static FrameStore store;
  static bool loaded = false;
  if (!loaded) {
    store.LiveFilePath = WriteSkyFits("/tmp/qor-bench-1537-16.fts", 1537, 1537, 16);
    NoSink sink;
    FrameReader().ReadLiveFrame(store, sink);
    store.RangeFactor = 10;
    store.BackgroundFactor = 1.5;
    loaded = true;
  }
  return store;
}

void BM_ComputeDisplayRange(benchmark::State& state) {
  FrameStore& store = LoadedStore();
  for (auto _ : state) {
    ComputeDisplayRange(store);
    benchmark::DoNotOptimize(store.DisplaySpan);
  }
}
BENCHMARK(BM_ComputeDisplayRange)->Unit(benchmark::kMillisecond);

void BM_RenderFrame(benchmark::State& state) {
  FrameStore& store = LoadedStore();
  PictureSurface picture;
  for (auto _ : state) {
    ComputeDisplayRange(store);
    RenderFrame(store, picture);
  }
}
BENCHMARK(BM_RenderFrame)->Unit(benchmark::kMillisecond);

void BM_Lettering(benchmark::State& state) {
  PictureSurface picture;
  for (auto _ : state) LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
}
BENCHMARK(BM_Lettering)->Unit(benchmark::kMillisecond);

void BM_ExportSnapshot(benchmark::State& state) {
  PictureSurface picture;
  FrameStore& store = LoadedStore();
  ComputeDisplayRange(store);
  RenderFrame(store, picture);
  for (auto _ : state)
    if (!ExportSnapshot(picture, "/tmp").ok) state.SkipWithError("export failed");
}
BENCHMARK(BM_ExportSnapshot)->Unit(benchmark::kMillisecond);

void BM_WholeChain(benchmark::State& state) {
  FrameStore& store = LoadedStore();
  FrameReader reader;
  NoSink sink;
  PictureSurface picture;
  for (auto _ : state) {
    reader.ReadLiveFrame(store, sink);
    ComputeDisplayRange(store);
    RenderFrame(store, picture);
    LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
    if (!ExportSnapshot(picture, "/tmp").ok) state.SkipWithError("export failed");
  }
}
BENCHMARK(BM_WholeChain)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
