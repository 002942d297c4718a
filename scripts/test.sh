#!/usr/bin/env bash
# bash scripts/test.sh [CTEST ARGS...]   the engineer's loop: installs what is missing, builds
#   build/ with warnings as errors and runs the whole suite, every case a CTest entry of its own,
#   in parallel (the flood cases alone); arguments go to ctest (-R NAME, -L e2e, -LE flood ...).
#   Needs no root once the packages are there.
# bash scripts/test.sh --all   what CI runs (.ci/run), in this order: the format of the tracked
#   sources, the build and the suite as above, the suite again under AddressSanitizer and
#   UndefinedBehaviorSanitizer (build-asan/), a bounded run of every fuzz target (build-fuzz/),
#   and the Debian package built, installed, tried and removed (tests/package/test_package.sh,
#   as root or through sudo).
# Each stage prints its time; the first failure ends the run.
set -euo pipefail
cd "$(dirname "$0")/.."
all=0
if [ "${1:-}" = --all ]; then
  all=1
  shift
fi
start=$SECONDS
stage() { echo "== $1 (at $((SECONDS - start)) s)"; }
jobs=$(nproc)

stage "packages"
bash scripts/deps.sh test

if [ $all -eq 1 ]; then
  stage "format"
  bash scripts/format.sh --check
fi

stage "build with warnings as errors"
bash scripts/build.sh -DAQLED_WERROR=ON
stage "tests"
(cd build && ctest --output-on-failure --timeout 600 -j"$jobs" "$@")

if [ $all -eq 0 ]; then
  stage "done in $((SECONDS - start)) s"
  exit 0
fi

stage "sanitizer build"
# Line tables are enough for the sanitizers' reports and cost far less to build than full
# debug information.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -g1" -DAQLED_WERROR=ON \
  -DAQLED_SANITIZE=ON -DAQLED_TEST_PER_CASE=OFF > build-asan.log 2>&1 || { cat build-asan.log; exit 1; }
cmake --build build-asan -j"$jobs" >> build-asan.log 2>&1 || { tail -n 80 build-asan.log; exit 1; }
stage "tests under the sanitizers"
(
  cd build-asan
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizers/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --output-on-failure --timeout 900 -j"$jobs"
)

stage "fuzzing"
bash scripts/fuzz.sh "${AQLED_FUZZ_SECONDS:-30}"

stage "package"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo bash tests/package/test_package.sh

stage "done in $((SECONDS - start)) s"
