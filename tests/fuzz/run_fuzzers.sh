#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz_*) with clang, AddressSanitizer and UndefinedBehavior-
# Sanitizer in build-fuzz/, then runs each for a bounded time.
#   bash tests/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET]     (default 60)
# A target's corpus grows in build-fuzz/corpus/<target>/, seeded from a "corpus" folder beside
# its source; a crash stops the script with the fuzzer's report and a non-zero status.
set -euo pipefail
seconds="${1:-60}"
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;; esac
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-fuzz"
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DAQLED_BUILD_FUZZERS=ON "${launcher[@]}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" > /dev/null
mapfile -t targets < <(cmake --build "$build" --target help | grep -o 'fuzz_[A-Za-z0-9_]*' | grep -v '_autogen' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets found" >&2
  exit 1
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  source_dir="$(grep -rl --include=CMakeLists.txt "add_executable($target " "$root/tests" | head -1 | xargs -r dirname)"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
  [ -n "$source_dir" ] && [ -f "$source_dir/$target.dict" ] && options+=(-dict="$source_dir/$target.dict")
  seeds=()
  [ -n "$source_dir" ] && [ -d "$source_dir/corpus" ] && seeds=("$source_dir/corpus")
  echo "== $target for $seconds s"
  (cd "$build" && "$build/bin/$target" "${options[@]}" "$corpus" "${seeds[@]}")
done
echo "all fuzz targets ran $seconds s without a finding"
