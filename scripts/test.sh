#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, then the package
# test (tests/package/test_package.sh: builds, installs and removes the Debian package; as root,
# or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure --timeout 600 -j1)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo bash tests/package/test_package.sh
