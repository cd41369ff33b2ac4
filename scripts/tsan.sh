#!/usr/bin/env bash
# The module and tovane-host under ThreadSanitizer (the tsan preset,
# build-tsan/): every example rendered with four frames at once, and the
# validator's concurrent-render check, which renders on several threads with a host
# each. Any report ThreadSanitizer makes fails the run.
# Usage: scripts/tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake --preset tsan >/dev/null
cmake --build --preset tsan
host=$root/build-tsan/tools/tovane-host
module=$root/build-tsan/TovaneParvolith/TovaneParvolith.so
out=$root/build-tsan/tsan-run
rm -rf "$out" && mkdir -p "$out"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
for scene in "$root"/examples/*.json; do
  name=$(basename "$scene" .json)
  echo "== render $name --jobs 4"
  "$host" render "$scene" --module "$module" --jobs 4 --quiet --out "$out/$name" --trace "$out/$name/trace.jsonl"
done
echo "== validate --only concurrent-render"
"$host" validate --module "$module" --only concurrent-render
echo "tsan: no data race reported"
