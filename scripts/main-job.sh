#!/usr/bin/env bash
# Installs what is missing, builds the deliverables and renders the demo
# contact sheet into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
mkdir -p out
./build/tools/tovane-host render --out out
