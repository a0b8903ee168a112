#!/usr/bin/env bash
# Builds (installing what is missing) and starts the tool's window on the built-in emulated
# dongle and mouse, with the emulator's control window beside it. Settings (TX.ini) are kept
# in build/demo-station. Parameters are passed to the window as the tool's own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target korvel-rf-demo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" = "" ]; then
  echo "run: no display. Start it under a virtual one:  xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
mkdir -p build/demo-station
cd build/demo-station
exec ../release/app/korvel-rf-demo "$@"
