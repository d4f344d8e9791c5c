#!/usr/bin/env bash
# The night's events' figures for the README, from this one run on this machine: meteors,
# satellites and aeroplanes drawn into synthetic nights and how they were found and called, and the
# streak finder's time beside the sky analysis' own.
# usage: bash bench/event_benchmarks.sh [BUILD_DIR] [FRAMES] [SIDE]   (a build with -DQOR_BENCH=ON)
set -euo pipefail
build=${1:-build}
frames=${2:-1200}
side=${3:-1025}

echo "### Accuracy: $frames frames of $side x $side, a turning, twinkling star field, hot pixels, cosmic rays, a cloud bank every hour"
echo
echo "| drawn in | how many | found | called a meteor | called what it is |"
echo "|---|---|---|---|---|"
"$build/bench/event_bench" accuracy "$frames" "$side" 5 | while read -r kind count found meteor right rest; do
  if [ "$kind" = false-meteors ]; then
    echo
    echo "False meteors (a meteor where nothing was drawn): $count in $frames frames; other false streaks: $meteor."
  else
    echo "| ${kind}s | $count | $found | $meteor | $right |"
  fi
done
echo
echo "### Time: the streak finder beside the analysis, medians of 10 frames"
echo
echo "| frame | sky analysis | streak finder |"
echo "|---|---|---|"
for size in 1025 1537; do
  read -r _ analysis _ streaks < <("$build/bench/event_bench" speed "$size" 10)
  echo "| $size x $size | $analysis ms | $streaks ms |"
done
