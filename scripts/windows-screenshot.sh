#!/usr/bin/env bash
# The Windows program's window as an observer sees it, under Wine and Xvfb: the portable program
# of scripts/windows-build.sh started on a frame made for the purpose, with --start (no server, so
# the status shows an FTP failure), and a screenshot of the screen.
# usage: bash scripts/windows-screenshot.sh [OUT.png]     (default docs/window-windows.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/window-windows.png}")
command -v import >/dev/null || { echo "windows-screenshot.sh needs imagemagick (apt-get install imagemagick)"; exit 1; }
mapfile -t made < <(bash "$root/scripts/windows-build.sh")
program="${made[0]%.zip}"

work=$(mktemp -d)
source "$root/scripts/wine-env.sh" "$root/build-windows/sysroot" 800x480x24
trap 'kill $(jobs -p) 2>/dev/null || true; wine_env_end; rm -rf "$work"' EXIT
/usr/bin/python3 "$root/scripts/screenshot_frame.py" "$work/live.fts"
printf 'live.fts\r\nTamsel Observatory\r\n127.0.0.1:1\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n' > "$work/qor_live.ini"
# Wine's GDI left the line edits' texts undrawn; Qt's own FreeType engine draws them (Windows' GDI
# is not known to need it).
(cd "$work" && WINEQT_QPA_PLATFORM=windows:fontengine=freetype timeout 60 wine "$program/qor_live.exe" --start >/dev/null 2>&1) &
sleep 15
mkdir -p "$(dirname "$out")"
import -window root -crop 750x362+0+0 "$out"
echo "screenshot: $out"
