// The pixel loops that every cycle runs over the whole frame, timed alone: decoding a 16-bit
// frame's big-endian samples (with BZERO), a histogram's bins, and the grey picture's formula. Built
// twice from the same sources (loop_bench, and loop_bench_scalar with GCC's vectorizer off), so that
// on arm64, where the portable loops are what runs, the wide (NEON) code GCC makes of them is
// measured against plain one-value-at-a-time code; bench/neon_benchmarks.sh counts both under qemu.
// usage: loop_bench decode|histogram|grey [SIDE [ROUNDS]]   prints "LOOP ms-per-round checksum"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/pixel_formulas.h"
#include "fits/sample_decoder.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: loop_bench decode|histogram|grey [SIDE [ROUNDS]]\n");
    return 2;
  }
  const std::string loop = argv[1];
  const int side = argc > 2 ? std::stoi(argv[2]) : 1537;
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 20;
  const int count = side * side;

  // A sky of 16-bit samples: a background with a slow gradient and a fine pattern of noise.
  std::vector<uint8_t> samples(2 * static_cast<size_t>(count));
  std::vector<int32_t> values(count);
  for (int i = 0; i < count; ++i) {
    const int value = 1200 + (i % side) / 8 + static_cast<int>((static_cast<uint32_t>(i) * 2654435761u) >> 26);
    values[i] = value;
    const uint16_t stored = static_cast<uint16_t>(value - 32768);
    samples[2 * i] = static_cast<uint8_t>(stored >> 8);
    samples[2 * i + 1] = static_cast<uint8_t>(stored);
  }
  static FrameStore store;
  store.FramePixels.assign(static_cast<size_t>(count), 0);
  store.Stride = side;
  std::vector<uint16_t> bins(count);
  std::vector<uint32_t> pixels(count);

  uint64_t checksum = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    if (loop == "decode") {
      SampleRule rule;
      rule.bytes = 2;
      rule.is_signed = true;
      rule.zero = 32768;
      SampleDecoder decoder(rule, side, store);
      uint64_t ored = 0;  // the digest's OR of the data's words, as the reader passes it
      for (size_t at = 0; at + 8 <= samples.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, samples.data() + at, 8);
        ored |= word;
      }
      decoder.Feed(samples.data(), samples.size(), ored);
      checksum += static_cast<uint64_t>(decoder.max()) + static_cast<uint64_t>(decoder.min()) +
                  static_cast<uint64_t>(store.FramePixels[count / 2]);
    } else if (loop == "histogram") {
      HistogramBins(values.data(), count, 1100, 2.5, bins.data());
      checksum += bins[count / 3] + bins[count - 1];
    } else if (loop == "grey") {
      GreyPixels(values.data(), count, 1100, 400, pixels.data());
      checksum += pixels[count / 3] + pixels[count - 1];
    } else {
      std::fprintf(stderr, "loop_bench: no loop \"%s\"\n", loop.c_str());
      return 2;
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() / rounds;
  std::printf("%s %.3f %llu\n", loop.c_str(), ms, static_cast<unsigned long long>(checksum));
  return 0;
}
