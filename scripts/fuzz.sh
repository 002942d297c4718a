#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a bounded time. A target's corpus
# grows in build-fuzz/corpus/<target>/, seeded from tests/fuzz/corpus/<target>/ when present; a
# tests/fuzz/<target>.dict gives it the input's tokens. A finding ends the run with the report.
# Usage: bash scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;; esac
mapfile -t targets < <(sed -n 's/^aqled_fuzzer(\([a-z_]*\) .*/\1/p' tests/fuzz/CMakeLists.txt)
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DAQLED_BUILD_FUZZERS=ON -DAQLED_BUILD_TESTS=OFF "${launcher[@]}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  > build-fuzz.log 2>&1 || { cat build-fuzz.log; exit 1; }
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >> build-fuzz.log 2>&1 ||
  { tail -n 60 build-fuzz.log; exit 1; }
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1)
  [ -f "tests/fuzz/$t.dict" ] && options+=(-dict="$PWD/tests/fuzz/$t.dict")
  seeds=()
  [ -d "tests/fuzz/corpus/$t" ] && seeds=("$PWD/tests/fuzz/corpus/$t")
  echo "fuzzing $t for ${seconds}s"
  (cd build-fuzz && QT_QPA_PLATFORM=offscreen "bin/$t" "${options[@]}" "corpus/$t" "${seeds[@]}") \
    > "build-fuzz/$t.log" 2>&1 || { tail -n 60 "build-fuzz/$t.log"; echo "fuzz target $t failed"; exit 1; }
  grep -E '^(stat::number_of_executed_units|Done)' "build-fuzz/$t.log" || true
done
echo "all fuzz targets ran ${seconds}s without a finding"
