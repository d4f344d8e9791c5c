#!/usr/bin/env bash
# Runs the C++ display chain and the Python reference on the same frame, one after the other in
# one run, and prints both times and their ratio.
set -euo pipefail
build=${1:-build}
json=$("$build/bench/display_bench" --benchmark_filter=WholeChain --benchmark_format=json 2>/dev/null)
ours=$(/usr/bin/python3 -c 'import json,sys; b=json.load(sys.stdin)["benchmarks"][0]; print(b["real_time"])' <<<"$json")
reference=$(/usr/bin/python3 "$(dirname "$0")/reference_chain.py" /tmp/qor-bench-1537-16.fts /tmp)
/usr/bin/python3 - "$ours" "$reference" <<'PY'
import sys
ours, reference = float(sys.argv[1]), float(sys.argv[2])
print(f"whole chain, 1537 x 1537 16-bit: station {ours:.2f} ms, Python reference {reference:.2f} ms, "
      f"ratio {reference / ours:.1f}x")
PY
