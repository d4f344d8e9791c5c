#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running the station need, and only
# those that are missing. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libcurl4-openssl-dev libturbojpeg0-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  fonts-ipafont-gothic fonts-dejavu-core
  python3 python3-astropy python3-numpy python3-pil python3-pyftpdlib python3-openssl
  fitsverify libcfitsio-dev libjpeg-turbo-progs vsftpd openssl
  xvfb xauth xdotool imagemagick procps time
  libc-l10n strace
  chromium
  dpkg-dev lintian file
  libssh-dev openssh-server openssh-client python3-asyncssh
  libsep-dev python3-sep
  libmosquitto-dev mosquitto mosquitto-clients python3-aiosmtpd
  libindi-dev indi-bin
)
# Node.js and npm for the page test: the machine's own where it has them, Debian's otherwise.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
