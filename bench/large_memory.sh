#!/usr/bin/env bash
# Peak memory (RSS) of the headless station on large cameras' 16-bit frames: --large-frames,
# a cycle every second, an archive every third cycle, each picture uploaded to a loopback FTP
# server, for 10 seconds. The goal for each: at most twice the frame's data plus 150 MB.
# usage: bash bench/large_memory.sh [BUILD_DIR]
#   prints a line per case: "WxH kind picture: peak N MB, limit M MB, cycles C, archives A"
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/server/homepage"
/usr/bin/python3 "$root/tests/scripts/ftp_server.py" "$work/server" "$work/ftp.log" >"$work/port" 2>"$work/ftp.stderr" &
pids+=($!)
for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/PORT/ {print $2}' "$work/port")

measure() {  # WIDTH HEIGHT KIND(grey|colour) PICTURE
  local width=$1 height=$2 kind=$3 picture=$4 station="$work/station-$1-$3-$4"
  mkdir -p "$station/camera"
  local mosaic=()
  [ "$kind" = colour ] && mosaic=(--mosaic)
  /usr/bin/python3 "$root/tools/camera_simulator.py" "$station/camera/live.fts" --size "${width}x${height}" \
    --frames 1 "${mosaic[@]}"
  printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$station/camera/live.fts" "Bench" "127.0.0.1:$port" \
    observer secret 10 1.5 >"$station/qor_live.ini"
  {
    echo "interval = 1"
    echo "large-frames = yes"
    echo "archive-every = 3"
    echo "picture = $picture"
    [ "$kind" = colour ] && echo "colour = yes"
    true
  } >"$station/qor_live.conf"
  (cd "$station" && /usr/bin/time -f '%M' -o "$station/peak" timeout -s TERM 10 "$build/app/qor_live" --headless \
    >"$station/status" 2>&1) || true
  local data=$((width * height * 2 >> 20))
  printf '%sx%s %s %s: peak %d MB, limit %d MB, cycles %d, archives %d\n' "$width" "$height" "$kind" "$picture" \
    $(($(tail -n 1 "$station/peak") >> 10)) $((2 * data + 150)) "$(grep -c 'Put bin OK' "$station/status")" \
    "$(find "$station/camera" -name '*_*.fts' | wc -l)"
  rm -rf "$station"
}

measure 6248 4176 grey fit
measure 6248 4176 colour 1920x1280
measure 9576 6388 grey fit
measure 9576 6388 grey 1920x1280
measure 9576 6388 colour 1920x1280
