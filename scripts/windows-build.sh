#!/usr/bin/env bash
# Cross-builds the Windows program (qor_live.exe, frametool.exe, ftpput.exe) with MinGW-w64 against
# the sysroot (scripts/windows-sysroot.sh) and makes, in build-windows/dist:
#   qor-live-VERSION-windows-x64.zip   the portable program: unzip anywhere and run qor_live.exe
#   qor-live-VERSION-setup.exe         the installer (NSIS; packaging/windows/qor-live.nsi)
# Each holds the DLLs the programs load (found by walking their imports), Qt's plugins, IPA Gothic
# for the captions, and the licences of everything shipped.
# usage: bash scripts/windows-build.sh        prints the two files' paths
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
sysroot=$(bash scripts/windows-sysroot.sh | tail -n 1)
build="$root/build-windows/build"
# Qt's host tools (moc) are Debian's own.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQOR_WINDOWS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DQOR_WERROR=ON \
  -DCMAKE_PREFIX_PATH="$sysroot/qt6" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build" --target qor_live frametool ftpput -j "$(nproc)" >/dev/null

version=$(sed -n 's/^project(qor_live VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="qor-live-$version-windows-x64"
dist="$root/build-windows/dist"
stage="$dist/$name"
rm -rf "$stage" "$dist/$name.zip" "$dist/qor-live-$version-setup.exe"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats" "$stage/fonts" "$stage/licenses"
for program in app/qor_live tools/frametool tools/ftpput; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program").exe" "$build/$program.exe"
done
cp "$sysroot"/qt6/plugins/platforms/q{windows,offscreen}.dll "$stage/platforms/"
cp "$sysroot"/qt6/plugins/styles/*.dll "$stage/styles/"
cp "$sysroot"/qt6/plugins/imageformats/q{jpeg,gif,ico}.dll "$stage/imageformats/"

# Every DLL that a program or plugin imports, and what those import, from the MinGW runtime and the
# sysroot; Windows' own DLLs are left to Windows.
search=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib "$sysroot/bin" "$sysroot/qt6/bin")
pending=("$stage"/*.exe "$stage"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file=${pending[0]}
  pending=("${pending[@]:1}")
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
    [ -f "$stage/$dll" ] && continue
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then
        x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/$dll" "$dir/$dll"
        pending+=("$stage/$dll")
        break
      fi
    done
  done
done

cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$stage/fonts/"
# The options an observer starts from: today's cameras are beyond 1537 x 1537 (the Debian
# package's example, which the installer also puts into the working folder).
cp packaging/qor_live.conf "$stage/qor_live.conf"
# The licences: the station's own, Debian's copyright files of the same sources' packages, and the
# full texts those files point to in /usr/share/common-licenses, which Windows lacks.
cp LICENSE "$stage/licenses/GPL-3.0.txt"
cp LICENSE "$stage/LICENSE"
cp README.md "$stage/README.md"
# Where the source of what is shipped under the GPL and LGPL is: beside the zip, from the project.
cat >"$stage/licenses/SOURCES.txt" <<SOURCES
The corresponding source of this program and of the libraries it carries (FFmpeg with x264, x264,
Qt, libssh, mbed TLS, OpenSSL, libcurl, libjpeg-turbo) is
qor-live-$version-sources.tar, published beside this zip and installer. It is made from the
station's source by scripts/windows-sources.sh: the station's own source and the Debian source
packages the libraries were built from.
SOURCES
for text in GPL-2 LGPL-2.1 LGPL-3 Apache-2.0; do
  cp "/usr/share/common-licenses/$text" "$stage/licenses/common-$text.txt"
done
declare -A licences=(
  [Qt]=libqt6core6 [libcurl]=libcurl4 [libssh]=libssh-4 [OpenSSL]=libssl3 [libjpeg-turbo]=libturbojpeg0
  [FFmpeg]=libavcodec59 [x264]=libx264-164 [GCC-runtime]=libstdc++6 [MinGW-w64-winpthreads]=mingw-w64-common
  [IPA-Gothic]=fonts-ipafont-gothic)
for part in "${!licences[@]}"; do
  copyright="/usr/share/doc/${licences[$part]}/copyright"
  [ -f "$copyright" ] || { echo "windows-build.sh: no $copyright for $part's licence" >&2; exit 1; }
  cp "$copyright" "$stage/licenses/$part.txt"
done
{
  echo "mbed TLS (built into libssh.dll) is under the Apache License 2.0:"
  echo
  cat /usr/share/common-licenses/Apache-2.0
} >"$stage/licenses/mbedTLS.txt"

(cd "$dist" && /usr/bin/python3 - "$name" <<'PY'
import os, sys, zipfile
name = sys.argv[1]
with zipfile.ZipFile(name + ".zip", "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, _, files in sorted(os.walk(name)):
        for file in sorted(files):
            archive.write(os.path.join(folder, file))
PY
)
# The uninstaller's list: every file the installer puts into the program's folder, then its
# folders, deepest first (each removed only where it is left empty).
installed="$root/build-windows/installed.nsh"
(cd "$stage" && {
  find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
}) >"$installed"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$dist/qor-live-$version-setup.exe" \
  -DINSTALLED="$installed" packaging/windows/qor-live.nsi >/dev/null
echo "$dist/$name.zip"
echo "$dist/qor-live-$version-setup.exe"
