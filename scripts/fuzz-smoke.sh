#!/usr/bin/env bash
# Builds the libFuzzer harness (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it for a bounded number
# of executions from the seed corpus in fuzz/corpus/. A finding stops the run
# with a non-zero exit and leaves its input in build-fuzz/findings/, to be
# replayed with: build-fuzz/fuzz/tovane_fuzz build-fuzz/findings/<file>
#
# Usage: scripts/fuzz-smoke.sh [RUNS]   (default 20000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20000}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# New inputs the run finds go to a scratch directory, not into the repository.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/findings
build-fuzz/fuzz/tovane_fuzz -runs="$runs" -seed=1 -max_total_time=110 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/findings/ "$work" fuzz/corpus
