#!/usr/bin/env bash
# Installs what is missing, then checks everything CI checks, in this order: the format of the
# tracked sources, a build with warnings as errors and the whole test suite, the whole suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and a bounded run
# of every fuzz target (build-fuzz/), and the Debian package built, installed, tried and removed
# (tests/package/test_package.sh, as root or through sudo). Each stage prints its time; the first
# failure ends the run.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
stage() { echo "== $1 (at $((SECONDS - start)) s)"; }

stage "packages"
bash scripts/deps.sh test

stage "format"
bash scripts/format.sh --check

stage "build with warnings as errors"
bash scripts/build.sh -DAQLED_WERROR=ON
stage "tests"
(cd build && ctest --output-on-failure --timeout 600 -j1)

stage "sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAQLED_WERROR=ON -DAQLED_SANITIZE=ON \
  > build-asan.log 2>&1 || { cat build-asan.log; exit 1; }
cmake --build build-asan -j"$(nproc)" >> build-asan.log 2>&1 || { tail -n 80 build-asan.log; exit 1; }
stage "tests under the sanitizers"
(
  cd build-asan
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizers/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --output-on-failure --timeout 900 -j1
)

stage "fuzzing"
bash scripts/fuzz.sh "${AQLED_FUZZ_SECONDS:-30}"

stage "package"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo bash tests/package/test_package.sh

stage "done in $((SECONDS - start)) s"
