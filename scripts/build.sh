#!/usr/bin/env bash
# Configures and builds aqled, its tools and its tests into build/. Extra arguments go to cmake's
# configure step (scripts/test.sh passes -DAQLED_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
# A compiler cache, when the machine has one, makes the engineer's next build short.
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" > build.log 2>&1 || { cat build.log; exit 1; }
cmake --build build -j"$(nproc)"
