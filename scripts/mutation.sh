#!/usr/bin/env bash
# Mutation run: applies each mutant of scripts/mutants.txt to the effect or
# Util/ in turn, rebuilds the module in build-mutation/ (the main build is
# untouched), runs the tests that drive the effect, and restores the source.
# Prints the score over the mutants that are not marked equivalent, and the
# survivors. Run by hand, not in CI; slow on a small machine, so run it niced:
#
#   nice bash scripts/mutation.sh               # every mutant
#   nice bash scripts/mutation.sh render- pre-  # only ids starting with these
#
# Environment: MUTATION_BUILD_DIR (default build-mutation), MUTATION_TIMEOUT
# (seconds per mutant's test run, default 300), MUTATION_JOBS (default 2).
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${MUTATION_BUILD_DIR:-build-mutation}
TIMEOUT=${MUTATION_TIMEOUT:-300}
JOBS=${MUTATION_JOBS:-2}
MUTANTS=scripts/mutants.txt
MUTATED_PATHS=(TovaneParvolith Util)
# Every test that loads the module: all but those of the pixel code, the
# property-list tools, the validator's own machinery and the other builds.
TESTS_OF_OTHER_PARTS='^(ScalingCopy|ImageFiles|PngSource|PixelWorld|FrameCard|TextDraw|SceneFile|PiplReader|GeneratedSources|WorldPoolTest|HandleTableTest|ReferenceTableTest|PlacementProperties|SourceTimeRule|RequestRules|RunCase|scene_schema|FaultSweep|ValidateCommand|windows_|macos_|validate\.(skipped|leaked|whole|windows))'

if ! git diff --quiet HEAD -- "${MUTATED_PATHS[@]}" ||
   [ -n "$(git ls-files --others --exclude-standard -- "${MUTATED_PATHS[@]}")" ]; then
  echo "mutation.sh: ${MUTATED_PATHS[*]} have uncommitted changes; commit or stash them first" >&2
  exit 2
fi

BACKUP=$(mktemp -d)
cp -a "${MUTATED_PATHS[@]}" "$BACKUP/"
# Copies back every file whose content differs. A plain copy gives it a new
# time stamp, so the next build recompiles it rather than keeping the
# mutant's object file.
restore() {
  (cd "$BACKUP" && find "${MUTATED_PATHS[@]}" -type f) | while read -r file; do
    cmp -s "$BACKUP/$file" "$ROOT/$file" || cp "$BACKUP/$file" "$ROOT/$file"
  done
}
# The sources are put back however the run ends, an interrupt included.
trap 'restore; rm -rf "$BACKUP"' EXIT
trap 'exit 130' INT TERM

# Applies mutant $1 to the tree, or lists the ids (with "list"), or prints
# one field of a mutant ("describe ID", "equivalent ID").
mutant_tool() {
  python3 - "$MUTANTS" "$@" <<'PY'
import sys

def parse(path):
    mutants, current = [], None
    for raw in open(path, encoding="utf-8").read().split("\n"):
        if raw.startswith("#") or (not raw.strip() and current is None):
            continue
        if raw.startswith("["):
            head, _, text = raw[1:].partition("] ")
            current = {"id": head, "text": text}
            mutants.append(current)
        elif not raw.strip():
            current = None
        else:
            key, _, value = raw.partition(": ")
            if key.endswith(":"):  # "replace:" with nothing after it
                key, value = key[:-1], ""
            current[key] = value.replace("{NL}", "\n")
    return mutants

mutants = parse(sys.argv[1])
command = sys.argv[2]
if command == "list":
    prefixes = sys.argv[3:]
    for m in mutants:
        if not prefixes or any(m["id"].startswith(p) for p in prefixes):
            print(m["id"])
    sys.exit(0)
mutant = next(m for m in mutants if m["id"] == sys.argv[3])
if command == "describe":
    print(mutant["text"])
elif command == "equivalent":
    sys.exit(0 if mutant["text"].startswith("equivalent:") else 1)
elif command == "apply":
    source = open(mutant["file"], encoding="utf-8").read()
    found = source.count(mutant["find"])
    if found != 1:
        sys.exit(f"mutant {mutant['id']}: its text occurs {found} times in {mutant['file']}")
    open(mutant["file"], "w", encoding="utf-8").write(source.replace(mutant["find"], mutant["replace"]))
PY
}

mapfile -t IDS < <(mutant_tool list "$@")
echo "mutation.sh: ${#IDS[@]} mutants; building $BUILD_DIR"
started=$(date +%s)
LOG="$BACKUP/setup.log"
cmake --preset default -B "$BUILD_DIR" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache >"$LOG" 2>&1 &&
  cmake --build "$BUILD_DIR" -j"$JOBS" >>"$LOG" 2>&1 ||
  { tail -n 40 "$LOG" >&2; echo "mutation.sh: the unmutated tree does not build" >&2; exit 1; }
if ! ctest --test-dir "$BUILD_DIR" -E "$TESTS_OF_OTHER_PARTS" -j"$JOBS" --timeout "$TIMEOUT" >"$LOG" 2>&1; then
  tail -n 40 "$LOG" >&2
  echo "mutation.sh: the unmutated tree fails its tests" >&2
  exit 1
fi

killed=0 scored=0 equivalent_survived=0 unbuilt=0
survivors=() equivalents_killed=()
for id in "${IDS[@]}"; do
  mutant_tool apply "$id"
  if ! cmake --build "$BUILD_DIR" --target TovaneParvolith -j"$JOBS" >"$BUILD_DIR/mutant.log" 2>&1; then
    result="does not build"
    unbuilt=$((unbuilt + 1))
  elif timeout "$((TIMEOUT + 60))" ctest --test-dir "$BUILD_DIR" -E "$TESTS_OF_OTHER_PARTS" -j"$JOBS" \
       --timeout "$TIMEOUT" --stop-on-failure >"$BUILD_DIR/mutant.log" 2>&1; then
    result="survived"
  else
    result="killed"
  fi
  restore

  if mutant_tool equivalent "$id"; then
    [ "$result" = survived ] && equivalent_survived=$((equivalent_survived + 1))
    [ "$result" = killed ] && equivalents_killed+=("$id")
  elif [ "$result" != "does not build" ]; then
    scored=$((scored + 1))
    if [ "$result" = killed ]; then killed=$((killed + 1)); else survivors+=("$id"); fi
  fi
  printf '%-34s %s\n' "$id" "$result"
done
# The module is rebuilt from the restored sources, so build-mutation is left
# matching the tree.
cmake --build "$BUILD_DIR" --target TovaneParvolith -j"$JOBS" >"$BUILD_DIR/mutant.log" 2>&1 || true

echo
echo "killed $killed of $scored non-equivalent mutants ($((scored > 0 ? 100 * killed / scored : 0)) %)," \
  "$equivalent_survived equivalent ones survived, $unbuilt did not build; $(( $(date +%s) - started )) s"
for id in "${survivors[@]}"; do
  echo "  survived: $id: $(mutant_tool describe "$id")"
done
for id in "${equivalents_killed[@]}"; do
  echo "  marked equivalent but killed: $id: $(mutant_tool describe "$id")"
done
[ "${#survivors[@]}" -eq 0 ]
