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
# The program, its zip and its installer first: the tests build in the same tree.
mapfile -t made < <(bash scripts/windows-build.sh)
setup=${made[1]}

source "$root/scripts/wine-env.sh" "$sysroot" 1280x1024x24
trap wine_env_end EXIT

cmake --build "$build" --target base_tests fits_tests sky_tests display_tests publish_tests app_tests program_tests -j "$(nproc)" >/dev/null
# Each program runs whole in one Wine process (a process a test case would cost seconds each).
# Its output goes to a file: Wine's background processes may keep a pipe open after it ends. A
# crash under Wine may still exit 0, so the verdict is GoogleTest's own last line.
status=0
for program in base_tests fits_tests sky_tests display_tests publish_tests app_tests program_tests; do
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

# The installer, as an observer's silent install and uninstall: the program, its Start menu entry
# and the start with Windows; the installed program runs; nothing of it is left but the working
# folder with the observer's files.
user=$(id -un)  # Wine names the Windows user after the Linux one
programs="$WINEPREFIX/drive_c/users/$user/AppData/Local/Programs/QOR Live"
profile="$WINEPREFIX/drive_c/users/$user"
menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"  # Wine spells its startup folder StartUp
installed=ok
# A folder of the observer's own is refused: the install leaves it as it was.
own="$profile/Own folder"
rm -rf "$own" && mkdir -p "$own" && echo "the observer's notes" >"$own/notes.txt"
timeout 120 wine "$setup" /S "/D=C:\\users\\$user\\Own folder" >/dev/null 2>&1 || true
[ ! -e "$own/qor_live.exe" ] && [ "$(ls "$own")" = notes.txt ] ||
  { echo "the installer put the program into a folder of the observer's"; installed=failed; }
rm -rf "$own"
timeout 120 wine "$setup" /S /AUTOSTART >/dev/null 2>&1 || true
for file in "$programs/qor_live.exe" "$programs/platforms/qwindows.dll" "$programs/fonts/ipag.ttf" \
  "$programs/licenses/Qt.txt" "$menu/QOR Live/QOR Live.lnk" "$menu/"[Ss]tart[Uu]p"/QOR Live.lnk"; do
  [ -f "$file" ] || { echo "the installer left no $file"; installed=failed; }
done
[ -d "$profile/QOR Live" ] || { echo "the installer made no working folder"; installed=failed; }
grep -q "^large-frames = yes" "$profile/QOR Live/qor_live.conf" 2>/dev/null ||
  { echo "the installer put no qor_live.conf into the working folder"; installed=failed; }
# What the observer keeps in the program's folder is theirs: the uninstaller leaves it.
echo "the observer's notes" >"$programs/notes.txt"
(cd "$profile" && timeout 60 wine "$programs/qor_live.exe" --version >"$build/installed.log" 2>&1) || true
grep -q "^qor_live " "$build/installed.log" || { echo "the installed program did not run"; installed=failed; }
timeout 120 wine "$programs/uninstall.exe" /S >/dev/null 2>&1 || true
for i in $(seq 100); do [ -e "$programs/uninstall.exe" ] || break; sleep 0.2; done  # it finishes from a copy of itself, removing itself last
[ "$(ls "$programs" 2>/dev/null)" = notes.txt ] && [ ! -e "$menu/QOR Live" ] && [ ! -e "$menu/"[Ss]tart[Uu]p"/QOR Live.lnk" ] ||
  { echo "the uninstaller left the program behind, or took the observer's file"; installed=failed; }
rm -rf "$programs"
echo "Windows (Wine) installer: $installed (refused folder of the observer's, silent install with the start with Windows, run, silent uninstall that keeps the observer's file)"
[ "$installed" = ok ] || status=1

# The end of a Windows session (a logoff, a shutdown) reaches a Qt program as window messages,
# not console events: Wine's own end of session must stop the headless station with its Stop.
# Last, since it ends the prefix's session.
session="$build/end-session"
rm -rf "$session" && mkdir -p "$session/camera"
/usr/bin/python3 -c 'import sys, numpy; from astropy.io import fits; fits.PrimaryHDU(numpy.full((48, 64), 1000, numpy.int16)).writeto(sys.argv[1])' \
  "$session/camera/live.fts"
printf 'camera\\live.fts\r\nKiso\r\n127.0.0.1:1\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n' >"$session/qor_live.ini"
(cd "$session" && timeout 60 wine "$build/app/qor_live.exe" --headless --interval 1 >"$session/out.txt" 2>&1) &
station=$!
for _ in $(seq 100); do grep -q "Live start" "$session/out.txt" 2>/dev/null && break; sleep 0.2; done
timeout 30 wineboot --end-session >/dev/null 2>&1 || true
wait "$station" || true
if grep -q "Live stop" "$session/qor_live.log" 2>/dev/null; then
  echo "Windows (Wine) end of session: the station stopped with its Stop"
else
  echo "Windows (Wine) end of session: the station did not stop with its Stop"; tail -n 5 "$session/out.txt"
  status=1
fi
exit $status
