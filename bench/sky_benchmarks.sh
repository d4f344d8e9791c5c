#!/usr/bin/env bash
# The sky analysis' figures for the README, all from this one run on this machine: its accuracy on
# synthetic frames whose stars are known, its counts beside Debian's python3-sep run as a Python
# job on the same frames, its time beside SEP's own background and extraction (the floor) and the
# Python job, its memory beyond the frame, and the window's longest stall and the longest cycle
# with the analysis on.
# usage: bash bench/sky_benchmarks.sh [BUILD_DIR]   (a build configured with -DQOR_BENCH=ON)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
peer="$here/../tests/scripts/sep_peer.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "### Accuracy: 1537 x 1537, 1500 stars (FWHM 2 to 4 px), Poisson noise, a 20 % gradient, 40 hot pixels, 20 cosmic rays"
echo
echo "| frame | stars of 10 sigma or more found | false detections (of the true count) | hot pixels counted | background error | SQM error (mag) |"
echo "|---|---|---|---|---|---|"
n=0
"$build/bench/sky_bench" accuracy | while read -r found false hot background sqm; do
  n=$((n + 1))
  echo "| $n | $found % | $false % | $hot | $background % | $sqm |"
done
echo
echo "### Against the peer: the same frames (no hot pixels or cosmic rays, which the station leaves out), circle and threshold"
echo
echo "| frame | station | python3-sep | difference |"
echo "|---|---|---|---|"
"$build/bench/sky_bench" peer "$work" | while read -r fits cx cy r stars; do
  read -r theirs _ < <(/usr/bin/python3 "$peer" "$fits" 5 "$cx" "$cy" "$r")
  echo "| $(basename "$fits") | $stars | $theirs | $(/usr/bin/python3 -c "print(f'{100 * ($stars - $theirs) / $theirs:+.1f} %')") |"
done
echo
echo "### Speed and memory (medians of 5; the floor is SEP's background, subtraction and extraction alone on the same pixels)"
echo
echo "| frame | analysis | SEP floor | analysis / floor | Python job | job / analysis | analysed at | extra memory | the frame's |"
echo "|---|---|---|---|---|---|---|---|---|"
for size in 1537x1537 6248x4176 9576x6388; do
  read -r analysis floor bin < <("$build/bench/sky_bench" speed "$size" 5 "$work/$size.fits")
  read -r extra frame < <("$build/bench/sky_bench" memory "$work/$size.fits")
  w=${size%x*} h=${size#*x}
  read -r _ _ job < <(/usr/bin/python3 "$peer" "$work/$size.fits" 5 "$(( w / 2 )).0" "$(( h / 2 )).0" \
    "$(( (w < h ? w : h) / 2 )).0" --time 3)
  job_ms=$(/usr/bin/python3 -c "print(f'{1000 * $job:.0f}')")
  binned="whole"
  [ "$bin" -gt 1 ] && binned="binned $bin x $bin"
  echo "| $size | $analysis ms | $floor ms | $(/usr/bin/python3 -c "print(f'{$analysis / $floor:.2f}')") | $job_ms ms |" \
    "$(/usr/bin/python3 -c "print(f'{$job_ms / $analysis:.1f}')") | $binned | $extra MB | $frame MB |"
  rm -f "$work/$size.fits"
done
echo
echo "### The window and the cycle with --sky --hot-pixels remove (18 cycles on a loopback FTP server)"
echo
echo "| frame | longest stall | longest cycle |"
echo "|---|---|---|"
for size in 1537x1537 9576x6388; do
  read -r _ longest _ _ _ _ _ cycle < <("$build/bench/stall_bench" 18 "$size" sky 2>/dev/null)
  echo "| $size | $longest ms | $cycle ms |"
done
echo
echo "$(date -u +%Y-%m-%d), $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
