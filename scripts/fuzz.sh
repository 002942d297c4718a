#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time.
# Usage: bash scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(fuzz_link_receive fuzz_settings_ini fuzz_stations_extract fuzz_share_request)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DAQLED_BUILD_FUZZERS=ON -DAQLED_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer" > build-fuzz.log 2>&1 ||
  { cat build-fuzz.log; exit 1; }
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >> build-fuzz.log 2>&1 ||
  { tail -n 60 build-fuzz.log; exit 1; }
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  echo "fuzzing $t for ${seconds}s"
  # -rss_limit_mb bounds memory; a crash, a leak or an abort() of the target fails the run.
  QT_QPA_PLATFORM=offscreen build-fuzz/bin/"$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$corpus" > "build-fuzz/$t.log" 2>&1 ||
    { tail -n 60 "build-fuzz/$t.log"; echo "fuzz target $t failed"; exit 1; }
  grep -E '^(stat::number_of_executed_units|Done)' "build-fuzz/$t.log" || true
done
