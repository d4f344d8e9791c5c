#!/usr/bin/env bash
# Builds the Windows x86-64 sysroot from Debian 12's own source packages with Debian's MinGW-w64
# (posix threads), into build-windows/sysroot: Qt 6 (Core, Gui, Widgets, Test; the windows and
# offscreen platforms), libjpeg-turbo (TurboJPEG), mbedTLS and libssh, OpenSSL, libcurl on OpenSSL
# (FTP, FTPS, SMTP for the alerts), x264, FFmpeg (only what an H.264 MP4 writer and reader need) and GoogleTest.
# It takes half an hour on two idle cores (27 minutes here, Qt 19 of them), an hour or more on
# busy ones. Each library leaves a stamp in build-windows/sysroot-work/stamps and is not built
# again; a run that stopped goes on where it stopped. scripts/windows-sysroot.sh calls this with
# --from-source, and for libcurl alone.
# usage: bash scripts/windows-sysroot-from-source.sh [LIBRARY...]   (qt jpeg mbedtls libssh openssl
#        curl x264 ffmpeg gtest mosquitto; without one, all of them; benchmark, Google Benchmark for the
#        benchmark programs, and sep, SEP for the sky's stars, only by name: windows-sysroot.sh
#        asks for sep and goes on without it where Debian's source cannot be had)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sysroot="$root/build-windows/sysroot"
work="$root/build-windows/sysroot-work"
sources="$work/src" builds="$work/build" stamps="$work/stamps"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
triple=x86_64-w64-mingw32
jobs=$(nproc)
mkdir -p "$sysroot" "$sources" "$builds" "$stamps" "$work/bin"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

step() {
  [ -f "$stamps/$1" ] && return
  local started=$SECONDS
  echo "$(date -u +%H:%M) building $1" >&2
  # A subshell of its own, so that its directory changes stay inside and its first failure ends it.
  set +e
  (
    set -e
    "build_$1"
  ) >"$work/$1.log" 2>&1
  local status=$?
  set -e
  if [ $status -ne 0 ]; then
    tail -n 30 "$work/$1.log" >&2
    echo "building $1 failed; its log is $work/$1.log" >&2
    exit 1
  fi
  touch "$stamps/$1"
  echo "$(date -u +%H:%M) $1 built in $((SECONDS - started)) s" >&2
}
source_of() { find "$sources" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | sort | tail -n 1; }
fetch() {  # fetch PACKAGE [VERSION...]: the first version the archive still holds
  [ -n "$(source_of "$1")" ] && return
  local package=$1 version
  shift
  (cd "$sources" && apt-get source -q "$package") && return
  for version in "$@"; do (cd "$sources" && apt-get source -q "$package=$version") && return; done
  return 1
}
cmake_install() {  # cmake_install SOURCE BUILD [cmake options...]
  local source=$1 build=$2
  shift 2
  cmake -G Ninja -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQOR_WINDOWS_SYSROOT="$sysroot" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sysroot" -DCMAKE_PREFIX_PATH="$sysroot" "$@"
  ninja -C "$build" -j "$jobs"
  ninja -C "$build" install
}

build_tools() {
  if ! grep -rqs '^Types: *deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed 's/^Types: *deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/qor-debsrc.sources >/dev/null
  fi
  local package missing=()
  for package in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build \
    qt6-base-dev qt6-base-dev-tools dpkg-dev nasm pkg-config make perl python3; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  $sudo apt-get update -q  # for the sources, if not for the tools
  [ ${#missing[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  # FFmpeg's configure asks pkg-config for x264: it must see the sysroot only.
  cat >"$work/bin/$triple-pkg-config" <<EOF
#!/bin/sh
export PKG_CONFIG_LIBDIR="$sysroot/lib/pkgconfig:$sysroot/qt6/lib/pkgconfig"
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
exec pkg-config "\$@"
EOF
  chmod +x "$work/bin/$triple-pkg-config"
}

build_qt() {
  fetch qt6-base
  local source
  source=$(source_of qt6-base)
  # Without OpenGL and Direct2D, Qt 6.4's Windows platform plugin still reaches for both in two
  # places; these guards let it compile and link.
  sed -i '/^static inline bool isSoftwareGl()/,/^#endif/s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$source/src/plugins/platforms/windows/qwindowswindow.cpp"
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$source/src/plugins/platforms/windows/qwindowsintegration.cpp"
  # Debian's source leaves out the tablet library (wintab): tablet events are off.
  cmake -G Ninja -S "$source" -B "$builds/qt" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQOR_WINDOWS_SYSROOT="$sysroot" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sysroot/qt6" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_pkg_config=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=ON \
    -DFEATURE_printsupport=OFF -DFEATURE_androiddeployqt=OFF -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_freetype=ON -DFEATURE_fontconfig=OFF
  ninja -C "$builds/qt" -j "$jobs"
  ninja -C "$builds/qt" install
}

build_jpeg() {
  fetch libjpeg-turbo
  cmake_install "$(source_of libjpeg-turbo)" "$builds/jpeg" -DENABLE_SHARED=ON -DENABLE_STATIC=OFF \
    -DWITH_TURBOJPEG=ON -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm -DCMAKE_INSTALL_DEFAULT_LIBDIR=lib
}

build_mbedtls() {
  fetch mbedtls
  # Threading on, as Debian builds it: without it libssh's initialisation fails half-way.
  (cd "$(source_of mbedtls)" && python3 scripts/config.py set MBEDTLS_THREADING_C &&
    python3 scripts/config.py set MBEDTLS_THREADING_PTHREAD)
  cmake_install "$(source_of mbedtls)" "$builds/mbedtls" -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
    -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DMBEDTLS_FATAL_WARNINGS=OFF
}

build_libssh() {
  # A security upload can be listed before its files reach the mirror: then the one before it.
  fetch libssh 0.10.6-0+deb12u2
  cmake_install "$(source_of libssh)" "$builds/libssh" -DWITH_MBEDTLS=ON -DMBEDTLS_ROOT_DIR="$sysroot" \
    -DWITH_GSSAPI=OFF -DWITH_ZLIB=OFF -DWITH_EXAMPLES=OFF -DUNIT_TESTING=OFF -DCLIENT_TESTING=OFF \
    -DWITH_SERVER=ON -DWITH_NACL=OFF -DWITH_PCAP=OFF -DWITH_SYMBOL_VERSIONING=OFF -DBUILD_SHARED_LIBS=ON
}

build_openssl() {
  fetch openssl 3.0.17-1~deb12u2
  mkdir -p "$builds/openssl"
  cd "$builds/openssl"
  "$(source_of openssl)/Configure" mingw64 --cross-compile-prefix=$triple- --prefix="$sysroot" --libdir=lib \
    shared no-tests no-legacy
  make -j "$jobs" build_libs
  make install_dev install_runtime_libs
}

# On OpenSSL, not Schannel: Wine's Schannel could not be proven (the README says why).
build_curl() {
  fetch curl
  cmake_install "$(source_of curl)" "$builds/curl" -DOPENSSL_ROOT_DIR="$sysroot" -DBUILD_SHARED_LIBS=ON \
    -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DCURL_USE_LIBPSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_RTSP=ON \
    -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON \
    -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMB=ON -DCURL_DISABLE_SMTP=OFF -DCURL_DISABLE_GOPHER=ON \
    -DCURL_DISABLE_MQTT=ON -DENABLE_MANUAL=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
}

build_x264() {
  fetch x264
  rm -rf "$builds/x264"
  cp -a "$(source_of x264)" "$builds/x264"  # x264 builds in its source tree
  cd "$builds/x264"
  ./configure --host=$triple --cross-prefix=$triple- --prefix="$sysroot" --enable-shared --disable-cli \
    --bit-depth=8 --chroma-format=420 --disable-lavf --disable-swscale --disable-ffms --disable-gpac --disable-lsmash
  make -j "$jobs"
  make install
}

build_ffmpeg() {
  fetch ffmpeg
  mkdir -p "$builds/ffmpeg"
  cd "$builds/ffmpeg"
  PATH="$work/bin:$PATH" "$(source_of ffmpeg)/configure" --prefix="$sysroot" --target-os=mingw32 --arch=x86_64 \
    --enable-cross-compile --cross-prefix=$triple- --pkg-config=$triple-pkg-config --enable-shared --disable-static \
    --disable-programs --disable-doc --disable-debug --disable-autodetect --disable-network --disable-everything \
    --enable-gpl --enable-libx264 --enable-encoder=libx264 --enable-muxer=mp4 --enable-demuxer=mov \
    --enable-decoder=h264 --enable-parser=h264 --enable-protocol=file --enable-swscale --disable-avdevice \
    --disable-avfilter --disable-swresample --disable-postproc --enable-w32threads
  PATH="$work/bin:$PATH" make -j "$jobs"
  make install
}

# Only for the benchmark programs, when asked for by name.
build_benchmark() {
  fetch benchmark
  # Debian takes the version from git, which its source has none of.
  cmake_install "$(source_of benchmark)" "$builds/benchmark" -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DHAVE_STD_REGEX=ON -DHAVE_STEADY_CLOCK=ON \
    -DGIT_VERSION=0.0.0
}

# SEP, for the sky's stars: its C files into a static library (Debian builds it with CMake beside
# its Python module, which a MinGW build has no use for).
build_sep() {
  fetch sep
  local source object file
  source=$(source_of sep)
  rm -rf "$builds/sep" && mkdir -p "$builds/sep"
  for file in "$source"/src/*.c; do
    object="$builds/sep/$(basename "$file" .c).o"
    "$triple-gcc-posix" -O2 -std=gnu99 -I "$source/src" -c "$file" -o "$object"
  done
  "$triple-ar" rcs "$sysroot/lib/libsep.a" "$builds/sep"/*.o
  install -m 644 "$source/src/sep.h" "$sysroot/include/sep.h"
}

# libmosquitto for the alerts' MQTT: the client library alone, on the sysroot's OpenSSL.
build_mosquitto() {
  fetch mosquitto
  cmake_install "$(source_of mosquitto)" "$builds/mosquitto" -DOPENSSL_ROOT_DIR="$sysroot" -DWITH_TLS=ON \
    -DWITH_TLS_PSK=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF \
    -DWITH_LIB_CPP=OFF -DWITH_STATIC_LIBRARIES=OFF -DWITH_CJSON=OFF -DWITH_SRV=OFF -DWITH_THREADING=OFF
  # Its install leaves out the import library and puts in the C++ binding's pkg-config file.
  install -m 644 "$builds/mosquitto/lib/libmosquitto.dll.a" "$sysroot/lib/libmosquitto.dll.a"
  rm -f "$sysroot/lib/pkgconfig/libmosquittopp.pc"
}

build_gtest() {
  fetch googletest
  cmake_install "$(source_of googletest)" "$builds/gtest" -DBUILD_GMOCK=ON -DBUILD_SHARED_LIBS=OFF -DINSTALL_GTEST=ON
}

step tools
if [ $# -gt 0 ]; then
  for library in "$@"; do step "$library"; done
  exit
fi
for library in qt jpeg mbedtls libssh openssl curl x264 ffmpeg gtest mosquitto; do step "$library"; done
touch "$sysroot/.from-source"  # the whole sysroot, libcurl on OpenSSL included
echo "$sysroot"
