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
/usr/bin/python3 "$root/scripts/screenshot_frame.py" "$work/live.fts"
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
