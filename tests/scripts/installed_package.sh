#!/usr/bin/env bash
# Runs the installed /usr/bin/qor_live as a service would: --version, then one headless cycle
# against a local FTP server, stopped by SIGTERM. Everything listens on 127.0.0.1 and is removed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/qor_live --version | grep -q '^qor_live '
# The tools name themselves as installed, and --help is no file name.
/usr/bin/qor-frametool --help | grep -q '^usage: qor-frametool '
{ /usr/bin/qor-ftpput 2>&1 || true; } | grep -q '^usage: qor-ftpput '
mkdir -p "$work/root/homepage" "$work/station"
/usr/bin/python3 - "$work/station/live.fts" <<'PY'
import sys
import numpy as np
from astropy.io import fits
fits.PrimaryHDU((np.arange(64 * 48) % 500 + 1000).reshape(48, 64).astype(np.int16)).writeto(sys.argv[1])
PY
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 "$here/ftp_server.py" "$work/root" "$work/ftp.log" --port "$port" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' live.fts "Package Test" "127.0.0.1:$port" observer secret 10 1.5 \
  > "$work/station/qor_live.ini"

(cd "$work/station" && exec env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/qor_live --headless --interval 1 >"$work/out.txt" 2>&1) &
station=$!
pids+=("$station")
for _ in $(seq 300); do grep -q 'Put bin OK' "$work/out.txt" && break; sleep 0.1; done
kill -TERM "$station"
status=0
wait "$station" || status=$?
cat "$work/out.txt"
[ "$status" -eq 0 ] || { echo "installed qor_live exited with $status"; exit 1; }
grep -q 'Put bin OK' "$work/out.txt" || { echo "no upload"; exit 1; }
[ -s "$work/root/homepage/live2.jpg" ] || { echo "live2.jpg missing on the server"; exit 1; }
echo "installed package: --version and one headless cycle OK"
