#!/usr/bin/env bash
# The Windows stage of the test suite: cross-builds the station's test programs with MinGW-w64
# against the sysroot (scripts/windows-sysroot.sh), and runs them under Wine, in a Wine prefix of
# their own booted under Xvfb. The peers the tests use (Python with astropy, fitsverify, pyftpdlib,
# vsftpd, sshd) run on Linux: the tests start them through Linux's /bin/sh, reach their files
# through drive Z: and their ports on 127.0.0.1.
# Without the sysroot it says how to make it and ends with status 0: the rest of the suite runs.
# usage: bash scripts/windows-test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if ! sysroot=$(bash scripts/windows-sysroot.sh | tail -n 1); then
  echo "Windows stage skipped: no sysroot (see above)."
  exit 0
fi
build="$root/build-windows/build"
# Qt's host tools (moc) are Debian's own.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQOR_WINDOWS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DQOR_WERROR=ON \
  -DCMAKE_PREFIX_PATH="$sysroot/qt6" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null

# Wine's own state, and a display that every Wine program gets (a prefix first started without one
# shows no window ever after).
export WINEPREFIX="$root/build-windows/wine-prefix" WINEDEBUG=-all
export WINEPATH="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib;$sysroot/bin;$sysroot/qt6/bin"
# Wine passes no QT_* variable to a Windows program, but takes WINE-prefixed ones without their
# prefix: Qt's offscreen platform, its plugins, and the lettering's IPA Gothic.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH="Z:${sysroot//\//\\}\\qt6\\plugins"
export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\opentype\ipafont-gothic'
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=$display
if [ ! -f "$WINEPREFIX/.booted" ]; then
  timeout 120 wineboot -i >/dev/null 2>&1
  # A crash shows no dialog that would wait for a click.
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  touch "$WINEPREFIX/.booted"
fi

cmake --build "$build" --target base_tests fits_tests display_tests publish_tests app_tests program_tests qor_live frametool ftpput -j "$(nproc)"
# Each program runs whole in one Wine process (a process a test case would cost seconds each).
# Its output goes to a file: Wine's background processes may keep a pipe open after it ends. A
# crash under Wine may still exit 0, so the verdict is GoogleTest's own last line.
status=0
for program in base_tests fits_tests display_tests publish_tests app_tests program_tests; do
  log="$build/$program.log"
  (cd "$build/tests" && timeout 300 wine "$program.exe" >"$log" 2>&1) || true
  if tail -n 3 "$log" | grep -q '^\[  PASSED  \]' && ! grep -q '^\[  FAILED  \]' "$log"; then
    echo "Windows (Wine) $program: $(grep '^\[  PASSED  \]' "$log")"
  else
    grep -E -B3 -A12 'Failure|FAILED|error' "$log" | head -n 80
    echo "Windows (Wine) $program failed; its output is in $log"
    status=1
  fi
done
exit $status
