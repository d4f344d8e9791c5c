#!/usr/bin/env bash
# A night's large video to a slow server while the live cycle runs: the headless station (cycles
# every 10 s, --night) starts with last night reviewed but not yet published, its timelapse.mp4
# 100 MB, and the FTP server takes uploads at 1 MB/s. Prints how long the video took, in how many
# cycles, and how far apart the live pictures' uploads were meanwhile (the interval is the goal:
# the night's uploads must never delay the next live picture).
# usage: bash bench/night_upload.sh [BUILD_DIR] [MEGABYTES] [BYTES_A_SECOND]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
megabytes=${2:-100}
rate=${3:-1000000}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/station/camera" "$work/server/homepage"
night=$(date -d yesterday +%F)
folder="$work/station/nights/$night"
mkdir -p "$folder"
: >"$folder/.qor-night"
head -c $((megabytes << 20)) /dev/urandom >"$folder/timelapse.mp4"
cat >"$folder/night.json" <<JSON
{"date": "$night", "pictures": 0, "products": [{"file": "timelapse.mp4", "size": $((megabytes << 20))}]}
JSON

/usr/bin/python3 "$root/tools/camera_simulator.py" "$work/station/camera/live.fts" --every 5 &
pids+=($!)
/usr/bin/python3 "$root/tests/scripts/ftp_server.py" "$work/server" "$work/ftp.log" --read-limit "$rate" \
  >"$work/port" 2>"$work/ftp.stderr" &
pids+=($!)
for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && [ -f "$work/station/camera/live.fts" ] && break; sleep 0.1; done
port=$(awk '/PORT/ {print $2}' "$work/port")
printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$work/station/camera/live.fts" "Bench" "127.0.0.1:$port" \
  observer secret 10 1.5 >"$work/station/qor_live.ini"

(cd "$work/station" && exec "$build/app/qor_live" --headless --interval 10 --night) >"$work/station.log" 2>&1 &
station=$!
pids+=("$station")
began=$(date +%s)
limit=$((began + megabytes * 3000000 / rate + 120))
until grep -q "Night upload OK: $night-timelapse.mp4" "$work/station.log"; do
  if [ "$(date +%s)" -gt "$limit" ] || ! kill -0 "$station" 2>/dev/null; then
    tail -n 20 "$work/station.log"
    echo "the video was not published in time"
    exit 1
  fi
  sleep 1
done
kill -TERM "$station"
wait "$station" || true

cmp "$folder/timelapse.mp4" "$work/server/homepage/night/$night-timelapse.mp4"
/usr/bin/python3 - "$work/station.log" "$night" "$megabytes" "$rate" <<'PY'
import sys
from datetime import datetime
log, night, megabytes, rate = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
times, parts, first, done = [], 0, None, None
for line in open(log):
    stamp, _, text = line.rstrip("\n").partition(" ")
    when = datetime.fromisoformat(stamp).timestamp()
    first = first or when
    if text == "Put bin OK":
        times.append(when)
    elif text == f"Night upload: {night}-timelapse.mp4 goes on at the next cycle":
        parts += 1
    elif text == f"Night upload OK: {night}-timelapse.mp4":
        done = when
gaps = [b - a for a, b in zip(times, times[1:])]
print(f"{megabytes} MB video at {rate / 1e6:g} MB/s, cycles every 10 s: published after {done - first:.0f} s "
      f"in {parts + 1} cycles; {len(times)} live pictures meanwhile, "
      f"{min(gaps):.0f} to {max(gaps):.0f} s apart (log times, to the second)")
PY
