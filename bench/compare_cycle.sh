#!/usr/bin/env bash
# The whole cycle, station against the Python reference (astropy, numpy, Pillow, ftplib), for
# three frame sizes at 8, 16 and 32 bits, each against its own loopback pyftpdlib server, with
# peak memory from /usr/bin/time -v. Prints a Markdown table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
repeats=${2:-20}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

peak() { grep 'Maximum resident' "$1" | awk '{ printf "%.0f", $NF / 1024 }'; }

echo "| frame | station ms | station peak MB | Python ms | Python peak MB | ratio |"
echo "|---|---|---|---|---|---|"
for size in "640 480" "1536 1024" "1537 1537"; do
  set -- $size
  for bitpix in 8 16 32; do
    ours=$(/usr/bin/time -v -o "$work/ours.time" "$build/bench/cycle_bench" "$1" "$2" "$bitpix" "$repeats")
    # The reference reads a frame written by the station's benchmark frame writer.
    /usr/bin/python3 - "$work/live.fts" "$1" "$2" "$bitpix" <<'PY'
import sys
import numpy as np
from astropy.io import fits
path, w, h, bitpix = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(1)
sky = np.clip(1200 + rng.normal(0, 40, (h, w)), 0, 65535)
dtype = {8: np.uint8, 16: np.int16, 32: np.int32}[bitpix]
values = {8: sky / 256, 16: sky / 2, 32: sky * 16}[bitpix]
fits.PrimaryHDU(values.astype(dtype)).writeto(path, overwrite=True)
PY
    mkdir -p "$work/ftp/homepage"
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    /usr/bin/python3 "$root/tests/scripts/ftp_server.py" "$work/ftp" "$work/ftp.log" --port "$port" >/dev/null 2>&1 &
    server=$!
    sleep 1
    theirs=$(/usr/bin/time -v -o "$work/theirs.time" /usr/bin/python3 "$root/bench/reference_chain.py" \
      "$work/live.fts" "$work" "$repeats" --ftp "127.0.0.1:$port" observer secret)
    kill "$server"
    ratio=$(/usr/bin/python3 -c "print(f'{$theirs / $ours:.1f}')")
    echo "| $1 x $2, $bitpix bits | $ours | $(peak "$work/ours.time") | $theirs | $(peak "$work/theirs.time") | $ratio |"
  done
done
