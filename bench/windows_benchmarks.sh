#!/usr/bin/env bash
# The chain against its floor on the Windows build, run under Wine, beside the same on Linux: the
# README's Wine figures. display_bench is cross-built for Windows (Google Benchmark built for it
# from Debian's own source by the sysroot's recipe) and runs on the very frames of the Linux run, chain and floor one
# after the other in one process, in alternating rounds with the Linux program. Under Wine the
# figures are Wine's, not Windows' own.
# usage: bash bench/windows_benchmarks.sh [LINUX_BUILD]   (a Linux build with -DQOR_BENCH=ON)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "${1:-$root/build}" && pwd)
rounds=5
sysroot=$(bash "$root/scripts/windows-sysroot.sh" | tail -n 1)
bash "$root/scripts/windows-sysroot-from-source.sh" benchmark
build="$root/build-windows/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQOR_WINDOWS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DQOR_BENCH=ON -DBUILD_TESTING=OFF \
  -DCMAKE_PREFIX_PATH="$sysroot/qt6;$sysroot" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build" --target display_bench >"$build.log" 2>&1 || { tail -n 30 "$build.log"; exit 1; }

work=$(mktemp -d)
source "$root/scripts/wine-env.sh" "$sysroot" 640x480x24
trap 'wine_env_end; rm -rf "$work"' EXIT
# The frames, as the Linux run writes them (the Windows program reads them through drive Z:).
"$linux_build/bench/fits_bench" --benchmark_filter='^Read/' --benchmark_min_time=0.01 >/dev/null 2>&1
for _ in $(seq $rounds); do
  for format in 8 16 32; do
    "$linux_build/bench/display_bench" --benchmark_filter="^(Chain|Floor)/$format\$" --benchmark_min_time=0.3 \
      --benchmark_format=json 2>/dev/null >>"$work/linux-$format.json.lines"
    echo '@@' >>"$work/linux-$format.json.lines"
    # The output goes to a file: Wine's own processes may hold a pipe open after the program ends.
    (cd "$build/bench" && timeout 300 wine display_bench.exe --benchmark_filter="^(Chain|Floor)/$format\$" \
      --benchmark_min_time=0.3 --benchmark_format=json >"$work/round.json" 2>/dev/null) || true
    cat "$work/round.json" >>"$work/wine-$format.json.lines"
    echo '@@' >>"$work/wine-$format.json.lines"
  done
done
/usr/bin/python3 - "$work" <<'PY'
import json, statistics, sys
work = sys.argv[1]
def rounds(path):
    chains, floors, ratios = [], [], []
    for text in open(path).read().split("@@"):
        if not text.strip():
            continue
        times = {b["name"].split("/")[0]: b["real_time"] for b in json.loads(text)["benchmarks"]}
        chains.append(times["Chain"]); floors.append(times["Floor"]); ratios.append(times["Chain"] / times["Floor"])
    return statistics.median(chains), statistics.median(floors), statistics.median(ratios), max(ratios)
print("| 1537 x 1537 | Linux chain | Linux floor | chain/floor | Wine chain | Wine floor | chain/floor |")
print("|---|---|---|---|---|---|---|")
for fmt in ("8", "16", "32"):
    lc, lf, lr, lx = rounds(f"{work}/linux-{fmt}.json.lines")
    wc, wf, wr, wx = rounds(f"{work}/wine-{fmt}.json.lines")
    print(f"| {fmt} bits | {lc:.2f} ms | {lf:.2f} ms | {lr:.2f} ({lx:.2f}) | {wc:.2f} ms | {wf:.2f} ms | {wr:.2f} ({wx:.2f}) |")
PY
