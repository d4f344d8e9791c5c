// The cycle's chain (read, range, render, letter, BMP, JPEG) on a 1537 x 1537 frame of every
// sample format, beside its floor measured in the same binary and run: reading the file from the
// page cache with one decoding pass that keeps the extremes, encoding the 423 x 316 JPEG and
// writing the BMP. Benchmark names: Chain/FORMAT and Floor/FORMAT; also each stage on 16 bits.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

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

std::string FramePath(SampleFormat format) {
  return std::string("/tmp/qor-bench-") + FormatName(format) + "-1537.fts";
}

FrameStore& Store() {
  static FrameStore store;
  return store;
}

void Chain(benchmark::State& state, SampleFormat format) {
  FrameStore& store = Store();
  store.LiveFilePath = FramePath(format);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FrameReader reader;
  NoSink sink;
  PictureSurface picture;
  for (auto _ : state) {
    if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) state.SkipWithError("read failed");
    ComputeDisplayRange(store);
    RenderFrame(store, picture);
    LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
    if (!ExportSnapshot(picture, "/tmp").ok) state.SkipWithError("export failed");
  }
}

// What no chain can avoid: the file's bytes from the page cache, one pass that turns every
// sample into a value and keeps the extremes, the JPEG of the picture and the BMP.
void Floor(benchmark::State& state, SampleFormat format) {
  const int fd = open(FramePath(format).c_str(), O_RDONLY);
  const off_t size = lseek(fd, 0, SEEK_END);
  std::vector<uint8_t> file(static_cast<size_t>(size));
  std::vector<int32_t> values(1537 * 1537);
  QImage rgb(423, 316, QImage::Format_RGB888);
  rgb.fill(Qt::gray);
  tjhandle encoder = tjInitCompress();
  const int bytes = format == SampleFormat::k8 ? 1 : format == SampleFormat::k16 || format == SampleFormat::k16Unsigned ? 2 : 4;
  for (auto _ : state) {
    if (pread(fd, file.data(), file.size(), 0) != size) state.SkipWithError("read failed");
    const uint8_t* p = file.data() + 2880;
    int32_t low = std::numeric_limits<int32_t>::max(), high = std::numeric_limits<int32_t>::min();
    for (size_t i = 0; i < values.size(); ++i) {
      int32_t v;
      if (bytes == 1) v = p[i];
      else if (bytes == 2) v = (p[2 * i] << 8) | p[2 * i + 1];
      else v = static_cast<int32_t>((uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) | (uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3]);
      values[i] = v;
      low = std::min(low, v);
      high = std::max(high, v);
    }
    benchmark::DoNotOptimize(low);
    benchmark::DoNotOptimize(high);
    unsigned char* jpeg = nullptr;
    unsigned long jpeg_size = 0;
    tjCompress2(encoder, rgb.constBits(), 423, static_cast<int>(rgb.bytesPerLine()), 316, TJPF_RGB, &jpeg, &jpeg_size,
                TJSAMP_444, 50, 0);
    tjFree(jpeg);
    if (!rgb.save("/tmp/qor-bench-floor.bmp", "BMP")) state.SkipWithError("bmp failed");
  }
  tjDestroy(encoder);
  close(fd);
}

FrameStore& LoadedStore() {
  FrameStore& store = Store();
  store.LiveFilePath = FramePath(SampleFormat::k16);
  NoSink sink;
  FrameReader().ReadLiveFrame(store, sink);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
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

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  for (SampleFormat format : kAllFormats) {
    WriteSkyFits(FramePath(format), 1537, 1537, format);
    benchmark::RegisterBenchmark((std::string("Chain/") + FormatName(format)).c_str(), Chain, format)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Floor/") + FormatName(format)).c_str(), Floor, format)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
