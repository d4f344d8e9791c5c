#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: first the normal build with
# warnings as errors, the Debian package (lintian, installed and run), the arm64 package and its
# tests (under qemu), the Windows stage (under Wine) and the live page in headless Chromium, then the same C++ tests under
# AddressSanitizer and UndefinedBehaviorSanitizer (with clang), then 60 seconds of fuzzing the
# FITS reader and 30 of fuzzing the SFTP reply parser.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_WERROR=ON -DQOR_BENCH=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 300

# The Debian package: built, checked by lintian (no errors allowed), installed, and run.
(umask 022 && cmake --build build --target package >/dev/null)
lintian --fail-on error build/qor-live_*.deb
# Hardening is only an "info" to lintian: checked here, so that it cannot go missing unseen.
if lintian -I build/qor-live_*.deb | grep -E 'hardening-no-(bindnow|fortify|relro)'; then
  echo "the package's programs lack hardening"
  exit 1
fi
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --reinstall ./build/qor-live_*.deb >/dev/null
bash tests/scripts/installed_package.sh

# The arm64 stage: the package cross-built against Debian 12's own arm64 packages and checked as
# the amd64 one is, then the C++ tests under qemu-aarch64-static (no binfmt, no root), with their
# servers running on this machine as the Windows stage's do.
arm64_package=$(bash scripts/arm64-build.sh | tail -n 1)
lintian --fail-on error "$arm64_package"
if lintian -I "$arm64_package" | grep -E 'hardening-no-(bindnow|fortify|relro)'; then
  echo "the arm64 package's programs lack hardening"
  exit 1
fi
ctest --test-dir build-arm64/build -j "$jobs" --output-on-failure --timeout 900

# The Windows stage: the Windows program, its zip and installer and its tests, under Wine (it says
# how to make the sysroot, and passes, where there is none).
bash scripts/windows-test.sh

# The live page in headless Chromium (playwright-core from npm, driving Debian's chromium).
(cd tests/web && npm ci --no-audit --no-fund --silent)
QOR_BUILD="$PWD/build" node --test tests/web/page_test.mjs

# Line tables are all that the sanitizers' reports need, and they build much faster than full
# debug information.
CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
  -DQOR_WERROR=ON -DQOR_SANITIZE=ON -DQOR_FUZZ=ON
cmake --build build-sanitize -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# What libindi itself leaks is its own (tests/lsan_suppressions.txt says what and why).
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan_suppressions.txt"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize -j "$jobs" --output-on-failure --timeout 600

# Runs fuzzer $1 for $2 seconds from the seeds in $3 (at most $4 bytes an input). The crash's own
# report (sanitizer, stack, input file) is shown when there is one.
fuzz() {
  local name=$1 seconds=$2 corpus=$3 longest=$4 log=build-sanitize/$1.log
  if ! "build-sanitize/fuzz/$name" -max_total_time="$seconds" -max_len="$longest" -print_final_stats=1 \
    -artifact_prefix=build-sanitize/ "$corpus" >"$log" 2>&1; then
    grep -E -A25 "runtime error|ERROR|deadly signal" "$log" | head -n 60
    echo "fuzzing $name found a crash; the input is in build-sanitize/crash-*"
    exit 1
  fi
  tail -n 15 "$log"
  echo "fuzzing $name: $seconds seconds, no crash"
}

corpus=build-sanitize/fuzz-corpus
rm -rf "$corpus" && mkdir -p "$corpus"
/usr/bin/python3 tests/scripts/fits_peer.py make "$corpus" >/dev/null
rm -f "$corpus"/*.expected "$corpus"/full_size_*
fuzz fits_reader_fuzzer 60 "$corpus" 16384

replies=build-sanitize/sftp-corpus
rm -rf "$replies" && mkdir -p "$replies"
/usr/bin/python3 tests/scripts/sftp_replies.py "$replies"
fuzz sftp_reply_fuzzer 30 "$replies" 4096
