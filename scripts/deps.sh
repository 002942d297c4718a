#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing aqled need, when missing.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev libgl-dev
  nlohmann-json3-dev libgtest-dev
  fonts-arphic-uming
  openssl xvfb xauth
  dpkg-dev desktop-file-utils appstream
)
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
