#!/usr/bin/env bash
# Puts the arm64 sysroot that the cross-build needs at build-arm64/sysroot: Debian 12's own arm64
# packages of the station's libraries (and of GoogleTest, for its tests), extracted by mmdebstrap
# into a folder of the project's. The machine's own apt state is left as it is. It also installs
# the cross-compiler and qemu from Debian. Kept until its package list changes.
# usage: bash scripts/arm64-sysroot.sh   prints the sysroot's path on its last line
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target="$root/build-arm64/sysroot"

bash "$root/scripts/install-missing.sh" g++-aarch64-linux-gnu mmdebstrap qemu-user-static qt6-base-dev-tools \
  cmake ninja-build dpkg-dev

# What the station links, what its tests link, the C++ runtime, and what the station and its tests
# find at run time (Qt's offscreen platform, the fonts): with their dependencies.
packages=(libc6-dev libstdc++-12-dev libgcc-12-dev
  qt6-base-dev libcurl4-openssl-dev libturbojpeg0-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libssh-dev libsep-dev libmosquitto-dev libindi-dev libcfitsio-dev libnova-dev zlib1g-dev
  libgtest-dev libgmock-dev
  qt6-qpa-plugins fonts-dejavu-core fonts-ipafont-gothic)
stamp=$(printf '%s\n' "${packages[@]}" | sha256sum | cut -c1-16)
if [ ! -f "$target/.stamp-$stamp" ]; then
  rm -rf "$target"
  mkdir -p "$target"
  # The mirror the machine's own apt uses; Debian's where it names none.
  mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  mirror=${mirror:-http://deb.debian.org/debian}
  echo "Extracting Debian 12's arm64 packages into $target (a few minutes, once)" >&2
  mmdebstrap --quiet --variant=extract --architectures=arm64 --mode=auto \
    --include="$(IFS=,; echo "${packages[*]}")" bookworm "$target" "deb $mirror bookworm main" >&2
  # Absolute links in the sysroot (libraries, the loader) are made to point inside it.
  find "$target" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
    ln -sfn "$target$(readlink "$link")" "$link"
  done
  # Its programs go: under qemu a test that starts /usr/bin/python3 or a shell must find the build
  # machine's own, not an arm64 one that this machine cannot run without binfmt.
  rm -rf "$target/bin" "$target/sbin" "$target/usr/bin" "$target/usr/sbin"
  touch "$target/.stamp-$stamp"
fi
echo "$target"
