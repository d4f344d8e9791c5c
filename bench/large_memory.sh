#!/usr/bin/env bash
# Peak memory (RSS) of the headless station on large cameras' frames: --large-frames, a cycle
# every second, an archive every third cycle, each picture uploaded to a loopback FTP server, for
# 10 seconds. The goal for each: at most four bytes a sample of the frame (twice the data of a
# 16-bit frame) plus 150 MB. Then frames of other shapes and sample types, and a large frame
# followed by a smaller one of another kind, 10 seconds each, whose goal is the larger frame's.
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

# Frames the simulator does not make: FILE WIDTH HEIGHT BITPIX PLANES (3: a colour cube) [mosaic].
make_frame() {
  /usr/bin/python3 - "$@" <<'PY'
import sys
import numpy as np
from astropy.io import fits
path, width, height, bitpix, planes = sys.argv[1], *map(int, sys.argv[2:6])
rng = np.random.default_rng(1)
shape = (planes, height, width) if planes == 3 else (height, width)
data = rng.normal(1000 if bitpix != 8 else 40, 30 if bitpix != 8 else 5, shape)
data[..., : max(1, height // 8), : max(1, width // 8)] += 20000 if bitpix != 8 else 150
kind = {8: np.uint8, 16: np.int16, 32: np.int32}[bitpix]
hdu = fits.PrimaryHDU(np.clip(data, 0, 255 if bitpix == 8 else 32000).astype(kind))
if len(sys.argv) > 6:
    hdu.header["BAYERPAT"] = "RGGB"
hdu.writeto(path, overwrite=True)
PY
}

# LABEL LIMIT_MB PICTURE COLOUR(yes|no) FIRST [SECOND]: the first frame for 5 seconds, then the
# second, 5 more.
measure_files() {
  local label=$1 limit=$2 picture=$3 colour=$4 first=$5 second=${6:-} station="$work/station-files"
  mkdir -p "$station/camera"
  cp "$first" "$station/camera/live.fts"
  printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$station/camera/live.fts" "Bench" "127.0.0.1:$port" \
    observer secret 10 1.5 >"$station/qor_live.ini"
  printf 'interval = 1\nlarge-frames = yes\narchive-every = 3\npicture = %s\ncolour = %s\n' "$picture" "$colour" \
    >"$station/qor_live.conf"
  (cd "$station" && /usr/bin/time -f '%M' -o "$station/peak" timeout -s TERM 10 "$build/app/qor_live" --headless \
    >"$station/status" 2>&1) &
  local run=$!
  if [ -n "$second" ]; then
    sleep 5
    cp "$second" "$station/camera/.next" && mv "$station/camera/.next" "$station/camera/live.fts"
  fi
  wait "$run" || true
  printf '%s %s: peak %d MB, limit %d MB, cycles %d, archives %d\n' "$label" "$picture" \
    $(($(tail -n 1 "$station/peak") >> 10)) "$limit" "$(grep -c 'Put bin OK' "$station/status")" \
    "$(find "$station/camera" -name '*_*.fts' | wc -l)"
  rm -rf "$station"
}

# Four bytes a sample of a frame, in MB, plus 150.
limit() { echo $(($1 * $2 * $3 * 4 / 1048576 + 150)); }

measure 6248 4176 grey fit
measure 6248 4176 colour 1920x1280
measure 9576 6388 grey fit
measure 9576 6388 grey 1920x1280
measure 9576 6388 colour 1920x1280

frames="$work/frames"
mkdir -p "$frames"
make_frame "$frames/8bit.fts" 16384 9765 8 1
measure_files "16384x9765 8-bit grey" "$(limit 16384 9765 1)" fit no "$frames/8bit.fts"
rm -f "$frames/8bit.fts"
make_frame "$frames/narrow-cube.fts" 1 16384 16 3
measure_files "1x16384x3 cube colour" "$(limit 1 16384 3)" fit yes "$frames/narrow-cube.fts"
make_frame "$frames/narrow-mosaic.fts" 2 16384 16 1 mosaic
measure_files "2x16384 mosaic colour" "$(limit 2 16384 1)" fit yes "$frames/narrow-mosaic.fts"
make_frame "$frames/large.fts" 16384 9765 16 1
make_frame "$frames/medium.fts" 9576 6388 16 1
measure_files "9576x6388 then 16384x9765 grey" "$(limit 16384 9765 1)" fit no "$frames/medium.fts" "$frames/large.fts"
make_frame "$frames/small-cube.fts" 640 480 16 3
measure_files "16384x9765 grey then 640x480x3 cube colour" "$(limit 16384 9765 1)" fit yes "$frames/large.fts" "$frames/small-cube.fts"
rm -f "$frames/large.fts" "$frames/medium.fts"
make_frame "$frames/wide.fts" 12345 4321 16 1
make_frame "$frames/small-mosaic.fts" 2001 1999 16 1 mosaic
measure_files "12345x4321 grey then 2001x1999 mosaic colour" "$(limit 12345 4321 1)" fit yes "$frames/wide.fts" "$frames/small-mosaic.fts"
