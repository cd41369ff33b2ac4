#!/usr/bin/env python3
"""Runs one module and its substitute host beside another pair and fails
unless every host call matches, call for call.

    compare_runs.py --work DIR --expected HOST MODULE --actual HOST MODULE [--validate]

Both pairs run the lifecycle and a render in each mode at 8, 16 and 32 bits
of one small scene, each writing its trace; the traces must be the same
bytes. With --validate both also run `tovane-host validate --json`, whose
reports must agree check for check once the module's path and the times are
left out. The pairs may be built against different declarations of the host
(the seam test, the scrambled build): what the effect asks of the host, and
what it gets, must not depend on which.
"""

import argparse
import filecmp
import json
import os
import shutil
import subprocess
import sys

MODES = ("Center", "Whole", "No Margin", "Fit to Layer")
DEPTHS = (8, 16, 32)


def scene(mode, depth):
    return {
        "composition": {"width": 64, "height": 36, "frame_rate": 30},
        "layers": [
            {"id": 1, "name": "Target", "width": 64, "height": 36, "duration": 4,
             "source": {"type": "checker", "cell": 8}},
            {"id": 2, "name": "Card", "width": 20, "height": 30, "start": 1, "in_point": 1, "duration": 2,
             "source": {"type": "frame_card"}},
        ],
        "effect": {"on_layer": 1, "mode": mode, "layer": 2, "time_type": "Percent", "time_percent": 50},
        "render": {"times": [{"value": 45, "scale": 30}], "depth": depth},
    }


def run(command, allowed=(0,)):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode not in allowed:
        raise SystemExit(f"{' '.join(command)}\nfailed ({result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


def same_traces(work, name, pairs, arguments):
    traces = []
    for kind, (host, module) in pairs.items():
        trace = os.path.join(work, f"{name}.{kind}.jsonl")
        run([host] + arguments(kind) + ["--module", module, "--trace", trace])
        traces.append(trace)
    if not filecmp.cmp(traces[0], traces[1], shallow=False):
        return f"{name}: the traces differ; compare {traces[0]} and {traces[1]}"
    return None


def without_times(value):
    """The report with every measured time (a key ending in "seconds") left out."""
    if isinstance(value, dict):
        return {k: without_times(v) for k, v in value.items() if not k.endswith("seconds")}
    if isinstance(value, list):
        return [without_times(v) for v in value]
    return value


def validate_report(host, module):
    # A failed check (exit 1) still reports; the comparison names it.
    report = json.loads(run([host, "validate", "--json", "--module", module], allowed=(0, 1)))
    return without_times(json.loads(json.dumps(report).replace(module, "<module>")))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--expected", nargs=2, metavar=("HOST", "MODULE"), required=True)
    parser.add_argument("--actual", nargs=2, metavar=("HOST", "MODULE"), required=True)
    parser.add_argument("--validate", action="store_true")
    args = parser.parse_args(argv)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    pairs = {"expected": args.expected, "actual": args.actual}

    differences = [same_traces(args.work, "lifecycle", pairs, lambda kind: ["lifecycle"])]
    for mode in MODES:
        for depth in DEPTHS:
            name = f"{mode.replace(' ', '_')}-{depth}"
            scene_file = os.path.join(args.work, name + ".json")
            with open(scene_file, "w") as f:
                json.dump(scene(mode, depth), f)
            differences.append(same_traces(
                args.work, name, pairs,
                lambda kind: ["render", scene_file, "--out", os.path.join(args.work, f"{name}.{kind}")]))
    runs = 1 + len(MODES) * len(DEPTHS)
    if args.validate:
        expected, actual = (validate_report(*pair) for pair in (args.expected, args.actual))
        for want, got in zip(expected["checks"], actual["checks"]):
            if want != got:
                differences.append(f"validate, check {want['id']}: expected {json.dumps(want)}\n  got {json.dumps(got)}")
        if len(expected["checks"]) != len(actual["checks"]):
            differences.append("validate ran a different number of checks")
        runs += 1
    differences = [d for d in differences if d]
    for difference in differences:
        print(difference, file=sys.stderr)
    print(f"{runs} runs compared, {len(differences)} differ")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
