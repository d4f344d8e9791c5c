#!/usr/bin/env bash
# Installs what is missing, builds, and starts a complete station on loopback: a camera simulator
# rewriting a live FITS file, a local FTP server with "/homepage" and a web server showing it, a
# working directory with its own qor_live.ini, and the station: its window with Start pressed, or
# headless where there is no display; an MQTT broker for its state and alerts. Everything started here listens on 127.0.0.1 only and is stopped when the station
# closes or on Ctrl-C.
# With --indi the camera is Debian's INDI CCD simulator under indiserver, which the station drives
# itself (--camera), instead of the camera simulator's live file. indiserver cannot be told to
# listen on loopback only: while the demo runs, its port is open on every interface.
# usage: bash scripts/run-station.sh [--indi]
set -euo pipefail
indi=no
[ "${1:-}" = "--indi" ] && indi=yes
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
# Warnings are the test build's concern: a build directory that the tests set up with warnings as
# errors must not stop the demo (GCC 12 warns falsely at -O3 in places).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOR_WERROR=OFF >/dev/null
cmake --build build --target qor_live

work="$root/demo-station"
mkdir -p "$work/camera" "$work/web-host/homepage"
cp web/index.html "$work/web-host/homepage/index.html"

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
ftp_port=$(free_port)
http_port=$(free_port)
mqtt_port=$(free_port)

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ $indi = yes ]; then
  # The INDI CCD simulator, and the telescope simulator it takes its sky from. Its local socket is
  # the demo's own, so that another indiserver on this machine is not in the way.
  indi_port=$(free_port)
  rm -f "$work/camera/live.fts"
  /usr/bin/indiserver -p "$indi_port" -u "/tmp/qor-demo-indi-$indi_port" indi_simulator_ccd indi_simulator_telescope \
    >"$work/indiserver.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$indi_port") 2>/dev/null && break
    sleep 0.1
  done
  # Without a telescope and a focal length the simulator draws noise alone; its sky glow is made a
  # twilight's, so that the automatic exposure has a sky to find.
  for property in 'Telescope Simulator.CONNECTION.CONNECT=On' 'CCD Simulator.CONNECTION.CONNECT=On' \
    'CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=900;120' 'CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=6'; do
    indi_setprop -p "$indi_port" -t 10 "$property" >/dev/null 2>&1 || echo "indi_setprop $property did not take"
  done
else
  # A colour camera of today, 6248 x 4176 pixels (a 52 MB frame every 5 s).
  /usr/bin/python3 tools/camera_simulator.py "$work/camera/live.fts" --size 6248x4176 --every 5 --mosaic &
  pids+=($!)
fi
/usr/bin/python3 scripts/demo_servers.py "$work/web-host" "$ftp_port" "$http_port" observer demo-password &
pids+=($!)
# An MQTT broker of the demo's own, on loopback, for the station's state, alerts and events.
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n' "$mqtt_port" > "$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" &
pids+=($!)

# The demo's own settings: live file, caption, server, account, password, Range, Background.
printf '%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n' "$work/camera/live.fts" "Tamsel Demo Observatory" \
  "127.0.0.1:$ftp_port" observer demo-password 10 1.5 > "$work/qor_live.ini"
chmod 600 "$work/qor_live.ini"

[ $indi = yes ] || for _ in $(seq 50); do [ -f "$work/camera/live.fts" ] && break; sleep 0.1; done
# Start connects once: the demo's FTP server must be listening by then (on a busy machine Python
# takes a few seconds to start it).
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$ftp_port") 2>/dev/null && break
  sleep 0.1
done

# The demo's options, in qor_live.conf as an observer would keep them. A newcomer should see the
# page change within seconds: a cycle every 10 s instead of every minute. The simulated camera is
# a large colour one: its whole frame is shown in colour, with its exposure, temperature and filter.
# The demo keeps the night (whatever the hour: it has no site) and publishes its review.
cat > "$work/qor_live.conf" <<'CONF'
# qor_live.conf of the demo station: one "name = value" a line, names as the long options.
interval = 10
# The camera is beyond 1537 x 1537: its whole frame at 1920 x 1280, in colour; an archive of
# 52 MB every ninth cycle while its disk has a gigabyte free.
large-frames = yes
picture = 1920x1280
archive-floor-mb = 1024
colour = yes
overlay = {EXPTIME}s {STARS} stars {CLEAR} clear {METEORS} meteors
stale-after = 60
# The night so far on the page: its keogram, star trails and timelapse remade every minute.
night = yes
night-every = 6
# The sky's condition on every frame: stars, darkness and clear share on the page and in the
# night's chart; the sensor's hot pixels drawn as their neighbours. The zero point is the demo
# camera's own (as --sqm-calibrate would find it beside a meter); a pixel spans 324" of its sky.
sky = yes
hot-pixels = remove
pixel-scale = 324
sqm-zero-point = 13.8
# Meteors, satellites and aeroplanes (the simulator draws a round of them every 90 s): the night
# keeps every streak it finds, and the alerts and the station's state go to the demo's broker.
events = all
alert = meteor
alert = cloudy 0.3 1
alert-quiet = 2
CONF
echo "notify = mqtt://127.0.0.1:$mqtt_port/qor-demo" >> "$work/qor_live.conf"
if [ $indi = yes ]; then
  # The INDI simulator's camera: 1280 x 1024 in grey, drawn pixel for pixel; one exposure a cycle,
  # chosen automatically.
  sed -i -e '/^large-frames/d' -e '/^colour/d' -e 's/^picture = .*/picture = frame/' "$work/qor_live.conf"
  {
    echo "# The station's own camera: INDI's CCD simulator, exposed so that its sky is a quarter of full scale."
    echo "camera = indi://127.0.0.1:$indi_port/CCD Simulator"
    echo "exposure = auto"
  } >> "$work/qor_live.conf"
  echo "The camera: INDI's CCD simulator at 127.0.0.1:$indi_port (indiserver listens on every interface)"
fi
options=(--start)
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: the station runs headless and prints its status lines here."
  options=(--headless)
fi
echo "The live page: http://127.0.0.1:$http_port/index.html (the station publishes every 10 seconds)"
echo "Its state, alerts and events: mosquitto_sub -h 127.0.0.1 -p $mqtt_port -t 'qor-demo/#' -v"
# In the background and waited for, so that a signal to this script stops everything at once.
(cd "$work" && exec "$root/build/app/qor_live" "${options[@]}") &
station=$!
pids+=("$station")
wait "$station"
