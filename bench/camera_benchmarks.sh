#!/usr/bin/env bash
# The exposure-to-published-picture delay of the station's own camera, beyond the exposure, against
# the ordinary cycle on the same frame: indiserver with INDI's CCD simulator (1280 x 1024, 16-bit)
# on a free port of 127.0.0.1, 12 rounds at each exposure. Prints the README's table.
# usage: bash bench/camera_benchmarks.sh [BUILD]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/indiserver -p "$port" -u "/tmp/qor-bench-indi-$port" indi_simulator_ccd indi_simulator_telescope >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait 2>/dev/null || true' EXIT
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
for property in 'Telescope Simulator.CONNECTION.CONNECT=On' 'CCD Simulator.CONNECTION.CONNECT=On' \
  'CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=900;120' 'CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=6'; do
  indi_setprop -p "$port" -t 10 "$property" >/dev/null 2>&1
done
echo "| exposure | server, transfer, libindi (beyond the exposure) | station: frame to live file | cycle after it | ordinary cycle, same frame | station's delay / ordinary | whole delay / ordinary |"
echo "|---|---|---|---|---|---|---|"
for exposure in 0.1 1 5; do
  line=$("$build/bench/camera_bench" "$port" 12 "$exposure" 2>/dev/null | grep '^median')
  read -r _ _ e _ camera _ station _ cycle _ ordinary _ ratio _ own <<<"$line"
  server_part=$(awk -v c="$camera" -v s="$station" 'BEGIN { printf "%.1f", c - s }')
  echo "| $e s | $server_part ms | $station ms | $cycle ms | $ordinary ms | $own | $ratio |"
done
