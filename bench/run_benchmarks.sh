#!/usr/bin/env bash
# Runs every comparison side by side and prints the README's benchmark table: per sample format,
# the reader against CFITSIO, the chain against its floor, the chain against the numpy/Pillow job
# (after checking that the job computes the same display range and greys), and the longest stretch
# without event handling; also chain/floor with the process held to one core. Medians of
# alternating runs, all in this one run on this machine; the chain and its floor are measured one
# after the other in the same process each time.
# usage: bash bench/run_benchmarks.sh [BUILD_DIR]   (a build configured with -DQOR_BENCH=ON)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
rounds=5
choice_rounds=9
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Reader and CFITSIO, every format and both sizes; this also writes the frames.
"$build/bench/fits_bench" --benchmark_filter='Read|Cfitsio' --benchmark_repetitions=$rounds \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/fits.json" 2>/dev/null
# The display range's pass on its own.
"$build/bench/display_bench" --benchmark_filter='Range' --benchmark_repetitions=$rounds \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/range.json" 2>/dev/null
# The chain with its floor in the same process, one right after the other (this machine's speed
# drifts over minutes), and the Python job, alternately, after the check that they do the same job.
for format in 8 16 16u 32 32u -32; do
  frame="/tmp/qor-bench-$format-1537.fts"
  /usr/bin/python3 "$here/reference_chain.py" "$frame" "$work" 1 --check "$build/tools/frametool" >/dev/null
  for _ in $(seq $rounds); do
    "$build/bench/display_bench" --benchmark_filter="^(Chain|Floor)/$format\$" --benchmark_min_time=0.3 \
      --benchmark_format=json 2>/dev/null >>"$work/chain-$format.json.lines"
    echo '@@' >>"$work/chain-$format.json.lines"
    /usr/bin/python3 "$here/reference_chain.py" "$frame" "$work" 5 >>"$work/reference-$format.txt"
  done
done
# The same chain and floor with the process held to one core: what the second core brings.
for format in 8 16 16u 32 32u -32; do
  for _ in 1 2 3; do
    taskset -c 0 "$build/bench/display_bench" --benchmark_filter="^(Chain|Floor)/$format\$" --benchmark_min_time=0.3 \
      --benchmark_format=json 2>/dev/null >>"$work/one-core-$format.json.lines"
    echo '@@' >>"$work/one-core-$format.json.lines"
  done
done
# The picture choices on the 16-bit sky, the design's grey picture among them, in turn round after
# round (more rounds: this machine's speed drifts, and the choices are compared with each other).
for _ in $(seq $choice_rounds); do
  for variant in 16 16-fit colour colour-fit; do
    "$build/bench/display_bench" --benchmark_filter="^(Chain|Floor)/$variant\$" --benchmark_min_time=0.3 \
      --benchmark_format=json 2>/dev/null >>"$work/choice-$variant.json.lines"
    echo '@@' >>"$work/choice-$variant.json.lines"
  done
done
# Large cameras' 16-bit frames (--large-frames): chain and floor of each picture, in turn round after
# round; then the station's peak memory on them and the window's longest stretch at 9576 x 6388.
large_variants="large-6248x4176-grey-fit large-6248x4176-grey-1920x1280 large-6248x4176-colour-fit
  large-6248x4176-colour-1920x1280 large-9576x6388-grey-fit large-9576x6388-grey-1920x1280
  large-9576x6388-colour-fit large-9576x6388-colour-1920x1280"
for _ in $(seq $rounds); do
  for variant in $large_variants; do
    "$build/bench/display_bench" --benchmark_filter="^(Chain|Floor)/$variant\$" --benchmark_min_time=0.3 \
      --benchmark_format=json 2>/dev/null >>"$work/choice-$variant.json.lines"
    echo '@@' >>"$work/choice-$variant.json.lines"
  done
done
bash "$here/large_memory.sh" "$build" >"$work/memory.txt"
large_stalls=()
for _ in 1 2 3; do large_stalls+=("$("$build/bench/stall_bench" 18 9576x6388 2>/dev/null)"); done
# The night: keeping a picture per cycle, and a night's products from 150 and from 600 pictures.
nights=()
for pictures in 150 600; do nights+=("$pictures $("$build/bench/night_bench" "$pictures" 2>/dev/null)"); done
stalls=()
for _ in 1 2 3; do stalls+=("$("$build/bench/stall_bench" 18 2>/dev/null)"); done

/usr/bin/python3 - "$work" "${nights[@]}" "${stalls[@]}" "${large_stalls[@]}" <<'PY'
import json, platform, statistics, subprocess, sys, datetime
work, nights, stalls, large_stalls = sys.argv[1], sys.argv[2:4], sys.argv[4:7], sys.argv[7:]
def medians(path):
    out = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b["real_time"]
    return out
fits, ranges = medians(f"{work}/fits.json"), medians(f"{work}/range.json")
def chain_and_floor(fmt, kind="chain"):
    """Medians of the chain and of the floor, and of their ratio run by run."""
    rounds = []
    for r in open(f"{work}/{kind}-{fmt}.json.lines").read().split("@@"):
        if r.strip():
            times = {b["name"].split("/")[0]: b["real_time"] for b in json.loads(r)["benchmarks"]}
            rounds.append((times["Chain"], times["Floor"]))
    ratios = [c / f for c, f in rounds]
    return (statistics.median(c for c, _ in rounds), statistics.median(f for _, f in rounds),
            statistics.median(ratios), min(ratios), max(ratios))
model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), platform.machine())
cores = subprocess.run(["nproc"], capture_output=True, text=True).stdout.strip()
print(f"Measured {datetime.date.today()} on {model}, {cores} cores, by `bash bench/run_benchmarks.sh` "
      f"(medians of 5 alternating runs, milliseconds; chain/floor is the median of the runs' ratios, each "
      f"chain and its floor measured one after the other in the same process).\n")
print("| format | read 640x480 | CFITSIO | read 1537² | CFITSIO | chain 1537² | floor | chain/floor | numpy job | faster |")
print("|---|---|---|---|---|---|---|---|---|---|")
for fmt, name in [("8", "8 bits"), ("16", "16 bits"), ("16u", "16 bits, BZERO 32768"), ("32", "32 bits"),
                  ("32u", "32 bits, BZERO 2^31"), ("-32", "-32 floats")]:
    c, fl, ratio, _, _ = chain_and_floor(fmt)
    ref = statistics.median(float(x) for x in open(f"{work}/reference-{fmt}.txt").read().split())
    print(f"| {name} | {fits[f'Read/{fmt}/640']:.2f} | {fits[f'Cfitsio/{fmt}/640']:.2f} | {fits[f'Read/{fmt}/1537']:.2f} | "
          f"{fits[f'Cfitsio/{fmt}/1537']:.2f} | {c:.2f} | {fl:.2f} | {ratio:.2f} | {ref:.1f} | {ref / c:.1f}x |")
print("\nThe same, the process held to one core by `taskset -c 0` (3 runs), chain/floor: " +
      ", ".join(f"{name} {chain_and_floor(fmt, 'one-core')[2]:.2f}" for fmt, name in
                [("8", "8 bits"), ("16", "16"), ("16u", "16u"), ("32", "32"), ("32u", "32u"), ("-32", "-32")]) + ".")
print("\nPicture choices on the 16-bit sky (chain and floor as above, the four in turn in each of 9 rounds; "
      "the floor encodes the chain's own picture):\n")
print("| picture | chain 1537² | floor | chain/floor | lowest and highest of the rounds |")
print("|---|---|---|---|---|")
for variant, name in [("16", "grey, the design's 423 x 316"), ("16-fit", "grey, --picture fit (316 x 316)"),
                      ("colour", "mosaic, --colour (423 x 316)"), ("colour-fit", "mosaic, --colour --picture fit")]:
    c, fl, ratio, low, high = chain_and_floor(variant, "choice")
    print(f"| {name} | {c:.2f} | {fl:.2f} | {ratio:.2f} | {low:.2f} to {high:.2f} |")
print("\nLarge cameras' 16-bit frames with --large-frames (chain and floor as above, the eight in turn in each "
      "of 5 rounds; the goal is at most 1.5):\n")
print("| frame | picture | chain | floor | chain/floor | lowest and highest of the rounds |")
print("|---|---|---|---|---|---|")
for size in ("6248x4176", "9576x6388"):
    for kind, kind_name in (("grey", "grey"), ("colour", "mosaic, --colour")):
        for picture in ("fit", "1920x1280"):
            c, fl, ratio, low, high = chain_and_floor(f"large-{size}-{kind}-{picture}", "choice")
            print(f"| {size.replace('x', ' x ')} | {kind_name}, --picture {picture} | {c:.1f} | {fl:.1f} | {ratio:.2f} | "
                  f"{low:.2f} to {high:.2f} |")
print("\nPeak memory of the headless station on them (`bash bench/large_memory.sh`: a cycle a second for 10 s, "
      "an archive every third cycle, uploads to a loopback server; RSS from `/usr/bin/time`, MiB; the limit is twice "
      "the frame's data plus 150):\n")
print("| frame | picture | peak | limit | cycles | archives |")
print("|---|---|---|---|---|---|")
for line in open(f"{work}/memory.txt"):
    head, _, rest = line.partition(": ")
    size, kind, picture = head.split()
    numbers = [part.split()[1] for part in rest.strip().split(", ")]
    kind_name = "grey" if kind == "grey" else "mosaic, --colour"
    print(f"| {size.replace('x', ' x ')} | {kind_name}, --picture {picture} | {numbers[0]} | {numbers[1]} | "
          f"{numbers[2]} | {numbers[3]} |")
print("\nThe night (`bench/night_bench.cpp`, 1537 x 1537 16-bit frame, the design's picture):\n")
print("| pictures | keeping a picture, ms per cycle | keogram + star trails + timelapse, s | peak memory, MB | longest wait of a window-priority thread meanwhile, ms |")
print("|---|---|---|---|---|")
for line in nights:
    pictures, keep, products, peak, wait = line.split()
    print(f"| {pictures} | {float(keep):.2f} | {float(products):.2f} | {float(peak):.0f} | {float(wait):.1f} |")
longest = [float(s.split()[1]) for s in stalls]
archive = [float(s.split()[3]) for s in stalls]
other = [float(s.split()[5]) for s in stalls]
print("\nThe display range's pass over the stored frame on its own (part of the chain, not of the floor): " +
      ", ".join(f"{name} {ranges[f'Range/{fmt}']:.2f} ms" for fmt, name in
                [("8", "8 bits"), ("16", "16"), ("16u", "16u"), ("32", "32"), ("32u", "32u"), ("-32", "-32")]) + ".")
print(f"\nLongest stretch without event handling, 1537² 16 bits with the upload to a loopback server "
      f"(worst of 3 runs of 18 cycles): {max(other):.1f} ms in ordinary cycles, {max(archive):.1f} ms in archive cycles; "
      f"9576 x 6388 with --large-frames: {max(float(s.split()[5]) for s in large_stalls):.1f} and "
      f"{max(float(s.split()[3]) for s in large_stalls):.1f} ms.")
PY
