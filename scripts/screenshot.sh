#!/usr/bin/env bash
# Starts the station under Xvfb on a frame made for the purpose, presses Start (with no server,
# so the status shows an FTP failure), and saves a screenshot of the real window.
# usage: scripts/screenshot.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(realpath -m "${2:-$root/docs/window.png}")
command -v import >/dev/null && command -v xdotool >/dev/null ||
  { echo "screenshot.sh needs imagemagick and xdotool (apt-get install imagemagick xdotool)"; exit 1; }

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/live.fts" <<'PY'
import sys
import numpy as np
from astropy.io import fits
rng = np.random.default_rng(3)
y, x = np.mgrid[0:480, 0:640]
sky = 1200 + rng.normal(0, 25, (480, 640))
for _ in range(60):
    cx, cy, peak = rng.uniform(0, 640), rng.uniform(0, 480), rng.uniform(500, 20000)
    sky += peak * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / 4.0)
fits.PrimaryHDU(np.clip(sky, 0, 65535).astype(np.uint16)).writeto(sys.argv[1])
PY
printf '%s\r\nTamsel Observatory\r\n127.0.0.1:1\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n' "$work/live.fts" > "$work/qor_live.ini"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x420x24 -nolisten tcp &
sleep 1
(cd "$work" && DISPLAY=$display "$build/app/qor_live") &
sleep 2
# Press Start (no window manager: the window sits at the screen's top-left corner).
DISPLAY=$display xdotool mousemove 536 284 click 1
sleep 3
mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window root -crop 760x380+0+0 "$out"
echo "screenshot: $out"
