#!/usr/bin/env bash
# The whole-frame pixel loops on arm64 as the station has them (GCC's vectorizer makes NEON code of
# the portable loops; the greys have a hand-written NEON path), with the portable loops alone, and
# one value at a time (the vectorizer off), under qemu-aarch64-static: instructions executed a pixel,
# counted from qemu's log of the blocks it runs (256 x 256 pixels, the difference between three
# rounds and one), and qemu's times at 1537 x 1537. qemu's times are not a Pi's: they only say
# which way the instruction counts go. Prints the README's table.
# usage: bash bench/neon_benchmarks.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
sysroot=$(bash scripts/arm64-sysroot.sh | tail -n 1)
build=build-arm64/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DQOR_ARM64_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BENCH=ON -DBUILD_TESTING=OFF \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build" --target loop_bench loop_bench_portable loop_bench_scalar >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Instructions that qemu runs for PROGRAM's whole run: each block it executes, by its size.
instructions() {
  qemu-aarch64-static -L "$sysroot" -d in_asm,exec,nochain -D "$log" "$@" >/dev/null
  /usr/bin/python3 - "$log" <<'PY'
import re, sys
sizes, current, total = {}, None, 0
block = re.compile(r"^(0x[0-9a-f]+):\s")
trace = re.compile(r"^Trace \d+: 0x[0-9a-f]+ \[[0-9a-f]+/([0-9a-f]+)/")
with open(sys.argv[1], errors="replace") as log:
    for line in log:
        if line.startswith("IN:"):
            current = None
            continue
        found = block.match(line)
        if found:
            pc = int(found.group(1), 16)
            if current is None:
                current = pc
                sizes[current] = 0
            sizes[current] += 1
            continue
        found = trace.match(line)
        if found:
            current = None
            total += sizes.get(int(found.group(1), 16), 0)
print(total)
PY
}

per_pixel() {  # PROGRAM LOOP: instructions a pixel of one round
  local one three
  one=$(instructions "$build/bench/$1" "$2" 256 1)
  three=$(instructions "$build/bench/$1" "$2" 256 3)
  awk -v a="$one" -v b="$three" 'BEGIN { printf "%.2f", (b - a) / 2 / 65536 }'
}

qemu_ms() {  # PROGRAM LOOP: qemu's milliseconds a round at 1537 x 1537
  qemu-aarch64-static -L "$sysroot" "$build/bench/$1" "$2" 1537 10 | awk '{ print $2 }'
}

echo "| loop | instructions a pixel, one at a time | GCC's NEON (the portable loop vectorized) | the station's (hand-written NEON where there is one) | fewer than one at a time | qemu's time a frame: one at a time / GCC's / the station's |"
echo "|---|---|---|---|---|---|"
for loop in decode histogram grey; do
  scalar=$(per_pixel loop_bench_scalar "$loop")
  portable=$(per_pixel loop_bench_portable "$loop")
  station=$(per_pixel loop_bench "$loop")
  ratio=$(awk -v s="$scalar" -v w="$station" 'BEGIN { printf "%.1f", s / w }')
  echo "| $loop | $scalar | $portable | $station | ${ratio} x | $(qemu_ms loop_bench_scalar "$loop") / $(qemu_ms loop_bench_portable "$loop") / $(qemu_ms loop_bench "$loop") ms |"
done
