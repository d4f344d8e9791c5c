#!/usr/bin/env bash
# Cross-builds the station for arm64 Linux (a Raspberry Pi with 64-bit Debian or Raspberry Pi OS)
# with Debian's aarch64 cross-compiler against build-arm64/sysroot (scripts/arm64-sysroot.sh), and
# makes build-arm64/qor-live_VERSION_arm64.deb: the amd64 package's contents, unit, manual pages
# and Depends (taken from build/qor-live_VERSION_amd64.deb, which is built first where it is not
# there).
# usage: bash scripts/arm64-build.sh   prints the package's path on its last line
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
sysroot=$(bash scripts/arm64-sysroot.sh | tail -n 1)

version=$(sed -n 's/^project(qor_live VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
amd64="build/qor-live_${version}_amd64.deb"
if [ ! -f "$amd64" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  (umask 022 && cmake --build build --target package >/dev/null)
fi
depends=$(dpkg-deb -f "$amd64" Depends)

build=build-arm64/build
# Optimised as the amd64 package is, without debug information: the package is stripped, and a
# quarter of the cross-build's time goes to writing it.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DQOR_ARM64_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DQOR_WERROR=ON \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQOR_DEB_DEPENDS="$depends" >/dev/null
cmake --build "$build" -j "$(nproc)"
(umask 022 && cmake --build "$build" --target package >/dev/null)
package="build-arm64/qor-live_${version}_arm64.deb"
mv "$build/qor-live_${version}_arm64.deb" "$package"
echo "$package"
