#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native
# tests, the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --preset default -j "$jobs"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

bash scripts/fuzz-smoke.sh
