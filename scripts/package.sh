#!/usr/bin/env bash
# Installs what is missing, builds aqled for installation under /usr in build-pkg/ (no tests)
# and makes the Debian package build-pkg/aqled_<version>_<arch>.deb with CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p build-pkg
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DAQLED_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" > build-pkg/configure.log 2>&1 ||
  { cat build-pkg/configure.log; exit 1; }
cmake --build build-pkg -j"$(nproc)" --target aqled
(cd build-pkg && cpack -G DEB > cpack.log 2>&1) || { cat build-pkg/cpack.log; exit 1; }
ls build-pkg/aqled_*.deb
