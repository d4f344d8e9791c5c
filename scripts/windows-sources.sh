#!/usr/bin/env bash
# The corresponding source of the Windows zip and installer, as the GPL and LGPL ask of the parts
# they ship (the station, FFmpeg with x264, x264, Qt, libssh; the GCC runtime's exception and the
# MinGW-w64 runtime's licence ask none, and the other libraries are taken along): the
# station's own source at this commit and the Debian source packages the sysroot is built from,
# in build-windows/dist/qor-live-VERSION-sources.tar beside the zip. The packages the sysroot was
# built from here (scripts/windows-sysroot.sh --from-source) are taken as they are; the others are
# Debian 12's current ones of the same names, fetched with apt-get source (the tarball sysroot was
# built from Debian 12's).
# usage: bash scripts/windows-sources.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=$(sed -n 's/^project(qor_live VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist="$root/build-windows/dist"
work="$root/build-windows/sources-work"
name="qor-live-$version-sources"
rm -rf "$work" && mkdir -p "$work/$name/debian" "$dist"

git archive --format=tar.gz --prefix="qor-live-$version/" -o "$work/$name/qor-live-$version.tar.gz" HEAD

packages=(qt6-base ffmpeg x264 libssh mbedtls openssl curl libjpeg-turbo)
built="$root/build-windows/sysroot-work/src"
missing=() not_fetched=()
for package in "${packages[@]}"; do
  # A package the sysroot was built from here is taken as it was: its .dsc and the files it names.
  dsc=$(find "$built" -maxdepth 1 -name "${package}_*.dsc" 2>/dev/null | sort | tail -n 1)
  if [ -z "$dsc" ]; then
    missing+=("$package")
    continue
  fi
  cp "$dsc" "$work/$name/debian/"
  awk '/^Files:/ {on = 1; next} /^[^ ]/ {on = 0} on && NF >= 3 {print $3}' "$dsc" |
    while read -r file; do cp "$built/$file" "$work/$name/debian/"; done
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if ! grep -rqs '^Types: *deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed 's/^Types: *deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/qor-debsrc.sources >/dev/null
    $sudo apt-get update -q
  fi
  for package in "${missing[@]}"; do
    # The newest version the archive gives: a mirror may lack the newest (security) one.
    # Each try in a folder of its own: a failed one leaves parts behind.
    fetched=false
    for source_version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
      rm -rf "$work/try" && mkdir "$work/try"
      if (cd "$work/try" && apt-get source -q --download-only "$package=$source_version"); then
        mv "$work/try"/* "$work/$name/debian/"
        fetched=true
        break
      fi
    done
    $fetched && continue
    # The GPL and LGPL parts must be there; the others are taken along where the archive has them.
    case $package in
      qt6-base | ffmpeg | x264 | libssh) echo "windows-sources.sh: no source of $package" >&2; exit 1 ;;
      *) not_fetched+=("$package") ;;
    esac
  done
fi
{
  echo "The corresponding source of qor-live $version for Windows."
  echo "qor-live-$version.tar.gz: the station's own source (GPL-3.0-or-later)."
  echo "debian/: the Debian source packages of the libraries the Windows program carries;"
  echo "scripts/windows-sysroot-from-source.sh in the station's source builds them as shipped."
  [ ${#not_fetched[@]} -eq 0 ] || echo "Not here (the archive did not give them; Debian's archive has them): ${not_fetched[*]}"
} >"$work/$name/README.txt"
tar -C "$work" -cf "$dist/$name.tar" "$name"
rm -rf "$work"
echo "$dist/$name.tar"
