// Reading the largest 16-bit frame from the page cache and writing its archive, beside the
// floor (one memcpy of the file's bytes plus one pass over the pixels) and CFITSIO.

#include <benchmark/benchmark.h>
#include <fitsio.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "bench/sample_frames.h"
#include "fits/fits_reader.h"
#include "fits/fits_writer.h"

namespace {

const std::string& LargestFrame() {
  static const std::string path = WriteSkyFits("/tmp/qor-bench-1537-16.fts", 1537, 1537, 16);
  return path;
}

class NoSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

FrameStore& Store() {
  static FrameStore store;
  return store;
}

void BM_ReadLiveFrame(benchmark::State& state) {
  FrameStore& store = Store();
  store.LiveFilePath = LargestFrame();
  FrameReader reader;
  NoSink sink;
  for (auto _ : state) {
    if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(store.PixelMax);
  }
}
BENCHMARK(BM_ReadLiveFrame)->Unit(benchmark::kMillisecond);

// The floor the reader is held to: copy the file's bytes once, then touch every pixel once.
void BM_MemcpyPlusOnePass(benchmark::State& state) {
  std::ifstream in(LargestFrame(), std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<char> copy(file.size());
  std::vector<int32_t> pixels(1537 * 1537);
  for (auto _ : state) {
    std::memcpy(copy.data(), file.data(), file.size());
    const auto* p = reinterpret_cast<const uint8_t*>(copy.data()) + 2880;
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (p[2 * i] << 8) | p[2 * i + 1];
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyPlusOnePass)->Unit(benchmark::kMillisecond);

void BM_CfitsioReadInt32(benchmark::State& state) {
  std::vector<int32_t> pixels(1537 * 1537);
  for (auto _ : state) {
    fitsfile* file = nullptr;
    int status = 0, any_null = 0;
    fits_open_file(&file, LargestFrame().c_str(), READONLY, &status);
    fits_read_img(file, TINT, 1, static_cast<LONGLONG>(pixels.size()), nullptr, pixels.data(), &any_null, &status);
    fits_close_file(file, &status);
    if (status != 0) state.SkipWithError("cfitsio failed");
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_CfitsioReadInt32)->Unit(benchmark::kMillisecond);

void BM_WriteArchiveFrame(benchmark::State& state) {
  FrameStore& store = Store();
  store.LiveFilePath = LargestFrame();
  FrameReader reader;
  NoSink sink;
  reader.ReadLiveFrame(store, sink);
  store.ArchiveFilePath = "/tmp/qor-bench-archive.fts";
  for (auto _ : state) {
    if (!WriteArchiveFrame(store).ok) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteArchiveFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
