#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running aqled need, when missing; with the
# argument "test" also those that only the checks of scripts/test.sh need.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libmicrohttpd-dev
  nlohmann-json3-dev libgtest-dev
  fonts-arphic-uming qt6-translations-l10n
  openssl xvfb xauth
  dpkg-dev desktop-file-utils appstream
)
if [ "${1:-}" = test ]; then
  # promtool and a Prometheus server, and a headless browser, for the status page's tests.
  packages+=(git clang-format clang libclang-rt-14-dev prometheus chromium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
