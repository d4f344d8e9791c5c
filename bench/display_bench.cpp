// The cycle's chain (read, range, render, letter, BMP, JPEG) on a 1537 x 1537 frame of every
// sample format, beside its floor measured in the same binary and run: reading the file from the
// page cache with one decoding pass that keeps the extremes, encoding the chain's own picture as
// JPEG and writing it as BMP. Benchmark names: Chain/FORMAT, Floor/FORMAT and Range/FORMAT (the
// display range alone); also the other stages on 16 bits, StageRange/VARIANT and
// StageRender/VARIANT for the picture choices' range and render alone, and Chain/, Floor/ and
// Stage.../large-WxH-{grey,colour}-{fit,1920x1280} for large cameras' 16-bit frames
// (--large-frames).

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>
#include <vector>

#include "bench/sample_frames.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/picture_painter.h"
#include "display/snapshot_export.h"
#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "fits/fits_reader.h"
#include "fits/wide_loops.h"

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
  store.LargeFrames = true;  // the 1537 x 1537 frames are read as they are without it
  return store;
}

// In the station a cycle begins a minute after the last: the helper thread has gone to sleep and
// must be woken. Each run of the chain, and of its floor alike, begins after a pause that is long
// enough for that, outside the time measured.
void Rest(benchmark::State& state) {
  state.PauseTiming();
  std::this_thread::sleep_for(std::chrono::microseconds(500));
  state.ResumeTiming();
}

// A picture the observer chose: the design's (the default), the whole frame scaled to fit, or in
// colour from the frame's mosaic.
struct Variant {
  std::string name;
  PictureChoices choices;
  bool mosaic = false;  // the frame carries a BAYERPAT card
  int width = 1537, height = 1537;
};

std::string SizeName(const Variant& variant) {
  std::string name = std::to_string(variant.width);
  if (variant.width != variant.height) name.append("x").append(std::to_string(variant.height));
  return name;
}

std::string MosaicPath(const Variant& variant = {}) { return "/tmp/qor-bench-16-mosaic-" + SizeName(variant) + ".fts"; }

std::string PathOf(SampleFormat format, const Variant& variant) {
  if (variant.mosaic) return MosaicPath(variant);
  if (variant.width != 1537) return "/tmp/qor-bench-16-" + SizeName(variant) + ".fts";
  return FramePath(format);
}

void ChainWith(benchmark::State& state, SampleFormat format, const Variant& variant) {
  FrameStore& store = Store();
  store.LiveFilePath = PathOf(format, variant);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  FrameReader reader;
  NoSink sink;
  PictureSurface picture;
  PicturePainter painter;
  painter.SetChoices(variant.choices);
  for (auto _ : state) {
    Rest(state);
    if (reader.ReadLiveFrame(store, sink).status != ReadStatus::kOk) state.SkipWithError("read failed");
    painter.ComputeRange(store);
    painter.Render(store, picture);
    LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
    if (!ExportSnapshot(picture, "/tmp").ok) state.SkipWithError("export failed");
  }
}

void Chain(benchmark::State& state, SampleFormat format) { ChainWith(state, format, {"", {}}); }

FrameStore& LoadedStore(const std::string& path) {
  FrameStore& store = Store();
  store.LiveFilePath = path;
  NoSink sink;
  FrameReader().ReadLiveFrame(store, sink);
  store.RangeFactor = 10;
  store.BackgroundFactor = 1.5;
  return store;
}

FrameStore& LoadedStore(SampleFormat format = SampleFormat::k16) { return LoadedStore(FramePath(format)); }

// One decoding pass over a piece of the file: byte order, the offset's top bit, the float's
// rounding, and the extremes; as plain as the work allows, with the same AVX2 copies as the reader.
template <int kBytes, uint32_t kFlip, bool kFloat>
QOR_WITH_AVX2_COPY void DecodePiece(const uint8_t* p, int count, int32_t* out, int32_t& low, int32_t& high) {
  int32_t lo = low, hi = high;
  for (int i = 0; i < count; ++i) {
    int32_t v;
    if constexpr (kBytes == 1) v = p[i];
    if constexpr (kBytes == 2) {
      uint16_t word;
      std::memcpy(&word, p + 2 * i, 2);
      v = static_cast<int32_t>(__builtin_bswap16(word) ^ kFlip);
    }
    if constexpr (kBytes == 4) {
      uint32_t bits;
      std::memcpy(&bits, p + 4 * i, 4);
      bits = __builtin_bswap32(bits);
      if constexpr (kFloat) {
        float f;
        std::memcpy(&f, &bits, 4);
        v = static_cast<int32_t>(std::nearbyint(f));
      } else {
        v = static_cast<int32_t>(bits ^ kFlip);
      }
    }
    out[i] = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  low = lo;
  high = hi;
}

// A piece's pass, called as the reader calls its loops (the AVX2 copy where the processor has it).
template <int kBytes, uint32_t kFlip, bool kFloat>
void DecodeWide(const uint8_t* p, int count, int32_t* out, int32_t& low, int32_t& high) {
  QOR_WIDE_CALL(DecodePiece<kBytes, kFlip, kFloat>(p, count, out, low, high));
}

using DecodeFunction = void (*)(const uint8_t*, int, int32_t*, int32_t&, int32_t&);

DecodeFunction FloorDecoder(SampleFormat format) {
  switch (format) {
    case SampleFormat::k8: return DecodeWide<1, 0, false>;
    case SampleFormat::k16: return DecodeWide<2, 0, false>;
    case SampleFormat::k16Unsigned: return DecodeWide<2, 0x8000, false>;
    case SampleFormat::k32: return DecodeWide<4, 0, false>;
    case SampleFormat::k32Unsigned: return DecodeWide<4, 0x80000000u, false>;
    case SampleFormat::kFloat: return DecodeWide<4, 0, true>;
  }
  return nullptr;
}

int SampleBytes(SampleFormat format) {
  return format == SampleFormat::k8 ? 1 : format == SampleFormat::k16 || format == SampleFormat::k16Unsigned ? 2 : 4;
}

// What no chain can avoid: the file's bytes from the page cache, read a piece at a time and
// decoded while the piece is in the cache (one pass that turns every sample into a value and keeps
// the extremes), the JPEG of the picture and the BMP, written over the earlier one as the station
// does.
void FloorWith(benchmark::State& state, SampleFormat format, const Variant& variant) {
  RegularFile file;  // the system's own positioned reads: pread, or ReadFile at an offset
  if (!file.Open(PathOf(format, variant)).ok) state.SkipWithError("no frame");
  const int bytes = SampleBytes(format);
  const DecodeFunction decode = FloorDecoder(format);
  constexpr int kPieceSamples = 32768;
  std::vector<uint8_t> piece(static_cast<size_t>(kPieceSamples) * bytes);
  std::vector<int32_t> values(static_cast<size_t>(variant.width) * variant.height);
  // The chain's own picture of this frame, so that the JPEG encodes the same content.
  PictureSurface picture;
  {
    FrameStore& store = LoadedStore(PathOf(format, variant));
    PicturePainter painter;
    painter.SetChoices(variant.choices);
    painter.ComputeRange(store);
    painter.Render(store, picture);
    LetterPicture(picture, "Tamsel Observatory", "02-14-2007 21:05:09");
  }
  const QImage& image = picture.Image();
  const uint64_t header = 2880;
  tjhandle encoder = tjInitCompress();
  for (auto _ : state) {
    Rest(state);
    int32_t low = std::numeric_limits<int32_t>::max(), high = std::numeric_limits<int32_t>::min();
    for (size_t done = 0; done < values.size();) {
      const int count = static_cast<int>(std::min<size_t>(kPieceSamples, values.size() - done));
      const size_t want = static_cast<size_t>(count) * bytes;
      if (!file.ReadAt(header + done * bytes, piece.data(), want).ok) state.SkipWithError("read failed");
      decode(piece.data(), count, values.data() + done, low, high);
      done += static_cast<size_t>(count);
    }
    benchmark::DoNotOptimize(low);
    benchmark::DoNotOptimize(high);
    unsigned char* jpeg = nullptr;
    unsigned long jpeg_size = 0;
    tjCompress2(encoder, image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()), image.height(), TJPF_BGRX, &jpeg,
                &jpeg_size, TJSAMP_444, 50, 0);
    tjFree(jpeg);
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP") || !OverwriteFile("/tmp/qor-bench-floor.bmp", bmp.constData(), static_cast<size_t>(bmp.size())).ok)
      state.SkipWithError("bmp failed");
  }
  tjDestroy(encoder);
}

void Floor(benchmark::State& state, SampleFormat format) { FloorWith(state, format, {"", {}}); }

void Range(benchmark::State& state, SampleFormat format) {
  FrameStore& store = LoadedStore(format);
  for (auto _ : state) {
    ComputeDisplayRange(store);
    benchmark::DoNotOptimize(store.DisplaySpan);
  }
}

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

// The 16-bit sky with a BAYERPAT card before END, the data as they were.
void WriteMosaic(const std::string& from, const std::string& to) {
  std::vector<char> bytes;
  {
    std::ifstream in(from, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string header(bytes.begin(), bytes.begin() + 2880);
  const size_t end = header.find("END     ");
  std::string card = "BAYERPAT= 'RGGB'";
  card.resize(80, ' ');
  header = header.substr(0, end) + card + header.substr(end);
  header.resize(2880, ' ');  // the blanks after END make room for the card
  std::string file = header + std::string(bytes.begin() + 2880, bytes.end());
  if (!WriteFileAtomically(to, file.data(), file.size()).ok) std::abort();
}

void StageRange(benchmark::State& state, const Variant& variant) {
  FrameStore& store = LoadedStore(PathOf(SampleFormat::k16, variant));
  PicturePainter painter;
  painter.SetChoices(variant.choices);
  for (auto _ : state) {
    Rest(state);
    painter.ComputeRange(store);
  }
}

void StageRender(benchmark::State& state, const Variant& variant) {
  FrameStore& store = LoadedStore(PathOf(SampleFormat::k16, variant));
  PicturePainter painter;
  painter.SetChoices(variant.choices);
  PictureSurface picture;
  painter.ComputeRange(store);
  const int32_t low = store.DisplayLow, span = store.DisplaySpan;
  for (auto _ : state) {
    Rest(state);
    store.DisplayLow = low;  // as the range left them: the render rescales them
    store.DisplaySpan = span;
    painter.Render(store, picture);
  }
}

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
    benchmark::RegisterBenchmark((std::string("Range/") + FormatName(format)).c_str(), Range, format)
        ->Unit(benchmark::kMillisecond);
  }
  // The picture choices on the 16-bit sky: the whole frame scaled to fit, and the same sky as a
  // colour camera's mosaic, in colour, at the design's size and scaled to fit.
  WriteMosaic(FramePath(SampleFormat::k16), MosaicPath());
  static const Variant kVariants[] = {
      {"16-fit", {*PictureSize::Parse("fit")}},
      {"colour", {PictureSize{}, true}, true},
      {"colour-fit", {*PictureSize::Parse("fit"), true}, true},
  };
  std::vector<Variant> variants(std::begin(kVariants), std::end(kVariants));
  // Large cameras' 16-bit frames, grey and as a mosaic in colour, scaled to fit the design's box
  // and to 1920 x 1280.
  for (const auto& [width, height] : {std::pair{6248, 4176}, std::pair{9576, 6388}}) {
    Variant grey{"", {}, false, width, height};
    // Written once: the script runs this binary many times, and the frames are the same each time.
    if (!std::filesystem::exists(MosaicPath(grey))) {
      WriteSkyFits(PathOf(SampleFormat::k16, grey), width, height, SampleFormat::k16);
      WriteMosaic(PathOf(SampleFormat::k16, grey), MosaicPath(grey));
    }
    for (const bool colour : {false, true})
      for (const char* size : {"fit", "1920x1280"})
        variants.push_back({std::string("large-").append(SizeName(grey)).append(colour ? "-colour-" : "-grey-").append(size),
                            {*PictureSize::Parse(size), colour}, colour, width, height});
  }
  for (const Variant& variant : variants) {
    benchmark::RegisterBenchmark((std::string("Chain/") + variant.name).c_str(), ChainWith, SampleFormat::k16,
                                 variant)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Floor/") + variant.name).c_str(), FloorWith, SampleFormat::k16,
                                 variant)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("StageRange/") + variant.name).c_str(), StageRange, variant)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("StageRender/") + variant.name).c_str(), StageRender, variant)->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
