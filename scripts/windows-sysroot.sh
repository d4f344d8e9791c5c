#!/usr/bin/env bash
# Puts the Windows x86-64 sysroot that the cross-build needs (Qt, libcurl, libssh, TurboJPEG,
# FFmpeg, GoogleTest, all built with Debian's MinGW-w64 from Debian 12's own source packages) at
# build-windows/sysroot, and installs the cross-compilers, Wine and NSIS from Debian.
# With ../shared/windows/sysroot.tar.zst beside the project it unpacks that, in seconds. Without
# it, it says how the sysroot is made: its recipe builds every library from Debian's sources and
# takes an hour and a half on two cores.
# usage: bash scripts/windows-sysroot.sh        prints the sysroot's path on its last line
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target="$root/build-windows/sysroot"
shared="$root/../shared/windows"

if [ ! -f "$target/.unpacked" ] && [ ! -f "$shared/sysroot.tar.zst" ]; then
  echo "No Windows sysroot: put sysroot.tar.zst into ../shared/windows/ (made by its build-sysroot.sh" >&2
  echo "from Debian 12's source packages, about an hour and a half on two cores) and run this again." >&2
  exit 3
fi

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine xvfb nsis zstd)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null
fi

if [ ! -f "$target/.unpacked" ] || [ "$shared/sysroot.tar.zst" -nt "$target/.unpacked" ]; then
  rm -rf "$target"
  mkdir -p "$(dirname "$target")"
  tar -C "$(dirname "$target")" -I zstd -xf "$shared/sysroot.tar.zst"
  touch "$target/.unpacked"
fi
echo "$target"
