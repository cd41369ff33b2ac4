#!/usr/bin/env bash
# Builds the libFuzzer harness (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs its smoke test: a
# bounded number of executions from the seed corpus in fuzz/corpus/. A
# finding fails the test and leaves its input in build-fuzz/findings/, to be
# replayed with: build-fuzz/fuzz/tovane_fuzz build-fuzz/findings/<file>
#
# Usage: scripts/fuzz-smoke.sh [RUNS]   (default 20000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20000}

cmake --preset fuzz -DTOVANE_FUZZ_SMOKE_RUNS="$runs" >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
ctest --preset fuzz
