#!/usr/bin/env bash
# Installs what is missing, builds aqled and starts it. The program reads config.ini and
# setup.ini beside its executable (build/bin/); a first run gets the sample config.ini.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
[ -f build/bin/config.ini ] || cp docs/config.sample.ini build/bin/config.ini
mkdir -p build/bin/log
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting aqled under a virtual X server (xvfb-run)."
  exec xvfb-run -a build/bin/aqled
fi
exec build/bin/aqled
