# Sourced by the scripts that run the Windows programs under Wine (the test stage, the screenshot,
# the benchmarks): the project's own Wine prefix, the folders of the DLLs, Qt's offscreen platform
# with its plugins and the lettering's IPA Gothic, and a display of its own that every Wine program
# gets (a prefix first started without one shows no window ever after). The caller ends it with
# wine_env_end, in its own trap.
# usage: source scripts/wine-env.sh SYSROOT SCREEN          (SCREEN as Xvfb takes it: 800x480x24)
wine_sysroot=$1
export WINEPREFIX="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-windows/wine-prefix" WINEDEBUG=-all
export WINEPATH="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib;$wine_sysroot/bin;$wine_sysroot/qt6/bin"
# Wine passes no QT_* variable to a Windows program, but takes WINE-prefixed ones without their
# prefix.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_PLUGIN_PATH="Z:${wine_sysroot//\//\\}\\qt6\\plugins"
export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\opentype\ipafont-gothic'
export DISPLAY=:$((90 + RANDOM % 800))
Xvfb "$DISPLAY" -screen 0 "$2" -nolisten tcp >/dev/null 2>&1 &
wine_xvfb=$!
sleep 1
wine_env_end() {
  kill "$wine_xvfb" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
if [ ! -f "$WINEPREFIX/.booted" ]; then
  timeout 120 wineboot -i >/dev/null 2>&1 || true
  # A crash shows no dialog that would wait for a click.
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.booted"
fi
# Wine links the user's Documents, Desktop and the like to the Linux home: an installer or an
# uninstaller under test there would reach the home's own files. They are made real folders.
for wine_folder in Desktop Documents Downloads Music Pictures Videos; do
  wine_link="$WINEPREFIX/drive_c/users/$(id -un)/$wine_folder"
  if [ -L "$wine_link" ]; then rm -f "$wine_link" && mkdir -p "$wine_link"; fi
done
