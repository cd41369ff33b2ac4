#!/usr/bin/env bash
# Installs what is missing, builds the deliverables, packs the Windows module
# and the macOS bundle (each a ZIP named as built against host/, for the
# substitute host) and renders the demo contact sheet into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
for build in build-windows build-macos; do
  (cd "$build" && cpack)
done
mkdir -p out
./build/tools/tovane-host render --out out
