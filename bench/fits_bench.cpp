// The reader against CFITSIO's fits_read_img into 32-bit integers, on every sample format that
// capture programs write, at 640 x 480 and 1537 x 1537, from the page cache; and the archive
// writer. Benchmark names: Read/FORMAT/WIDTH and Cfitsio/FORMAT/WIDTH.

#include <benchmark/benchmark.h>
#include <fitsio.h>

#include <string>
#include <vector>

#include "bench/sample_frames.h"
#include "fits/fits_reader.h"
#include "fits/fits_writer.h"

namespace {

class NoSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

FrameStore& Store() {
  static FrameStore store;
  return store;
}

std::string FramePath(SampleFormat format, int side) {
  return std::string("/tmp/qor-bench-") + FormatName(format) + "-" + std::to_string(side) + ".fts";
}

void Read(benchmark::State& state, std::string path) {
  FrameStore& store = Store();
  store.LiveFilePath = path;
  FrameReader reader;
  NoSink sink;
  for (auto _ : state) {
    if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(store.PixelMax);
  }
}

void Cfitsio(benchmark::State& state, std::string path, size_t pixels) {
  std::vector<int32_t> values(pixels);
  for (auto _ : state) {
    fitsfile* file = nullptr;
    int status = 0, any_null = 0;
    fits_open_file(&file, path.c_str(), READONLY, &status);
    fits_read_img(file, TINT, 1, static_cast<LONGLONG>(pixels), nullptr, values.data(), &any_null, &status);
    fits_close_file(file, &status);
    if (status != 0) state.SkipWithError("cfitsio failed");
    benchmark::DoNotOptimize(values.data());
  }
}

void BM_WriteArchiveFrame(benchmark::State& state) {
  FrameStore& store = Store();
  store.LiveFilePath = FramePath(SampleFormat::k16, 1537);
  FrameReader reader;
  NoSink sink;
  reader.ReadLiveFrame(store, sink);
  store.ArchiveFilePath = "/tmp/qor-bench-archive.fts";
  for (auto _ : state)
    if (!WriteArchiveFrame(store).ok) state.SkipWithError("write failed");
}
BENCHMARK(BM_WriteArchiveFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const int sizes[][2] = {{640, 480}, {1537, 1537}};
  for (SampleFormat format : kAllFormats)
    for (const auto& size : sizes) {
      const std::string path = WriteSkyFits(FramePath(format, size[0]), size[0], size[1], format);
      const std::string suffix = std::string("/") + FormatName(format) + "/" + std::to_string(size[0]);
      benchmark::RegisterBenchmark(("Read" + suffix).c_str(), Read, path)->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("Cfitsio" + suffix).c_str(), Cfitsio, path, static_cast<size_t>(size[0]) * size[1])
          ->Unit(benchmark::kMillisecond);
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
