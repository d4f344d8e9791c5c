#!/usr/bin/env bash
# Puts the Windows x86-64 sysroot that the cross-build needs (Qt, libcurl, libssh, TurboJPEG,
# FFmpeg, GoogleTest, all built with Debian's MinGW-w64 from Debian 12's own source packages) at
# build-windows/sysroot, and installs the cross-compilers, Wine and NSIS from Debian.
# - With ../shared/windows/sysroot.tar.zst beside the project it unpacks that, in seconds, and
#   builds libcurl again from Debian's source with OpenSSL for its TLS (about two minutes): Wine's
#   Schannel took a certificate from an unknown authority and refused one from the authority it
#   was given, so FTPS could not be proven under Wine with it (the README says more). On Windows
#   curl takes the system's certificate store through OpenSSL (CURLSSLOPT_NATIVE_CA). It builds
#   libmosquitto too, for MQTT (half a minute).
# - With --from-source it builds the whole sysroot from Debian's source packages
#   (scripts/windows-sysroot-from-source.sh): half an hour on two idle cores, an hour or more on
#   busy ones.
# - With neither, it says how to make one and ends with status 3.
# usage: bash scripts/windows-sysroot.sh [--from-source]   prints the sysroot's path on its last line
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target="$root/build-windows/sysroot"
shared="$root/../shared/windows"

from_source=no
# A sysroot built here from source is kept, tarball or not: it took half an hour or more.
[ "${1:-}" = "--from-source" ] || [ -f "$target/.from-source" ] && from_source=yes
if [ $from_source = no ] && [ ! -f "$target/.unpacked" ] && [ ! -f "$shared/sysroot.tar.zst" ]; then
  echo "No Windows sysroot. Build it from Debian 12's source packages with" >&2
  echo "  bash scripts/windows-sysroot.sh --from-source" >&2
  echo "(half an hour on two idle cores, an hour or more on busy ones)," >&2
  echo "or put a ready sysroot.tar.zst into ../shared/windows/." >&2
  exit 3
fi

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 fonts-wine xvfb nsis zstd
  dpkg-dev cmake ninja-build)
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

if [ $from_source = yes ]; then
  bash "$root/scripts/windows-sysroot-from-source.sh"
  exit
fi
if [ ! -f "$target/.unpacked" ] || [ "$shared/sysroot.tar.zst" -nt "$target/.unpacked" ]; then
  rm -rf "$target"
  mkdir -p "$(dirname "$target")"
  tar -C "$(dirname "$target")" -I zstd -xf "$shared/sysroot.tar.zst"
  rm -rf "$root/build-windows/sysroot-work/stamps"  # what was built into the old one is gone with it
  touch "$target/.unpacked"
fi

# libcurl on OpenSSL, from the same Debian source as the Schannel one it replaces.
# With SMTP for the alerts' mail: a curl built before that is built again.
if [ ! -f "$target/.curl-openssl-smtp" ]; then
  rm -f "$root/build-windows/sysroot-work/stamps/curl"
  bash "$root/scripts/windows-sysroot-from-source.sh" curl
  touch "$target/.curl-openssl-smtp"
fi
# libmosquitto for the alerts' MQTT, from Debian's source (half a minute).
if [ ! -f "$target/.mosquitto" ]; then
  bash "$root/scripts/windows-sysroot-from-source.sh" mosquitto
  touch "$target/.mosquitto"
fi
# SEP for the sky's stars, where Debian's source can be had; without it the Windows build refuses
# --sky (README, "No stars on Windows"). Tried once for each sysroot.
if [ ! -f "$target/.sep-tried" ]; then
  bash "$root/scripts/windows-sysroot-from-source.sh" sep >&2 ||
    echo "SEP could not be built for Windows (see above): the Windows build will refuse --sky" >&2
  touch "$target/.sep-tried"
fi
echo "$target"
