#!/usr/bin/env bash
# Builds (installing what is missing) and starts the tool on the built-in emulated dongle.
# Until the window exists this is the companion's scan of the emulated dongle.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target korvel-rf
exec build/release/app/korvel-rf scan --emulated "$@"
