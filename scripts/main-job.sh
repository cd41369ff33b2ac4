#!/usr/bin/env bash
# Installs what is missing, builds the deliverables, packs the Windows module
# and the macOS bundle (each a ZIP named as built against host/, for the
# substitute host), renders the demo contact sheet into out/, and renders the
# scrub example into out/scrub/ with an animated GIF of it (scrub.gif).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
for build in build-windows build-macos; do
  (cd "$build" && cpack)
done
mkdir -p out
./build/tools/tovane-host render --out out
# The effect's main use, an animated "Time(%)", as frames and as a GIF a
# person can open in any browser (one palette for the whole clip).
mkdir -p out/scrub
./build/tools/tovane-host render examples/scrub.json --out out/scrub --trace out/scrub/trace.jsonl
ffmpeg -loglevel error -y -framerate 30 -i out/scrub/frame_%04d.png \
  -vf "split[frames][copy];[copy]palettegen[palette];[frames][palette]paletteuse" out/scrub/scrub.gif
