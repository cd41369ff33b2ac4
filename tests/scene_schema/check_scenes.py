#!/usr/bin/env python3
"""The scene format's schema and the scene reader say the same thing.

Every example must be valid under the schema and render as it is; every
file under good/ must be valid and render; every file under bad/ must be
refused by the reader (exit 1, the message naming the file and the field it
breaks), and by the schema too unless its rule is one a schema cannot state
(READER_ONLY).
"""
import argparse
import json
import pathlib
import subprocess
import sys
import tempfile

import jsonschema

# The field each bad file breaks: the reader's message must name it, so a
# file is refused for its own rule and not for another one by accident.
FIELD_BROKEN = {
    "composition_width_zero.json": "composition.width",
    "constant_percent_above_range.json": "effect.time_percent",
    "depth_not_8_16_32.json": "render.depth",
    "downsample_above_one.json": "render.downsample[0]",
    "key_given_twice.json": "composition.width",
    "keyframe_hold_not_boolean.json": "effect.time_percent[0].hold",
    "keyframe_percent_below_range.json": "effect.time_percent[1]",
    "keyframe_seconds_above_range.json": "effect.time_sec[0]",
    "keyframe_unknown_key.json": "effect.time_percent[0]",
    "keyframe_without_value.json": "effect.time_sec[0]",
    "keyframes_at_the_same_time.json": "effect.mode[1]",
    "keyframes_empty.json": "effect.time_percent",
    "keyframes_out_of_order.json": "effect.time_percent[1]",
    "layer_keyframe_names_no_layer.json": "effect.layer[1]",
    "mode_integer_out_of_range.json": "effect.mode",
    "mode_unknown_entry.json": "effect.mode",
    "source_unknown_type.json": "layers[1].source.type",
    "time_type_keyframe_integer_out_of_range.json": "effect.time_type[1]",
    "times_object_count_too_large.json": "render.times.count",
    "times_object_count_zero.json": "render.times.count",
    "times_object_unknown_key.json": "render.times",
    "times_object_without_from.json": "render.times",
}

# Rules only the reader can check, by file, with the reason.
READER_ONLY = {
    "keyframes_out_of_order.json": "keyframe times must increase: a schema cannot compare two items",
    "keyframes_at_the_same_time.json": "0 s and 0/30 are the same time: a schema cannot compare two items",
    "layer_keyframe_names_no_layer.json": "a layer id must name a layer of the scene: a schema cannot look it up",
    "downsample_above_one.json": "num must not exceed den: a schema cannot compare two numbers",
    "key_given_twice.json": "a key given twice: JSON parsers keep one, so a schema never sees both",
}


def render(host, module, scene, out_dir):
    return subprocess.run([host, "render", str(scene), "--module", module, "--out", out_dir],
                          capture_output=True, text=True, timeout=300)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--schema", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--examples", required=True)
    parser.add_argument("--cases", required=True, help="folder holding good/ and bad/")
    args = parser.parse_args()

    schema = json.loads(pathlib.Path(args.schema).read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    cases = pathlib.Path(args.cases)
    problems = []

    def schema_errors(path):
        return [f"{'/'.join(map(str, e.absolute_path)) or '(top)'}: {e.message}"
                for e in validator.iter_errors(json.loads(path.read_text()))]

    good = sorted(pathlib.Path(args.examples).glob("*.json")) + sorted((cases / "good").glob("*.json"))
    bad = sorted((cases / "bad").glob("*.json"))
    if not good or not bad:
        problems.append("no examples or no good or bad cases found")
    for path in good:
        for error in schema_errors(path):
            problems.append(f"{path}: the schema refuses a good file: {error}")
        with tempfile.TemporaryDirectory() as out:
            run = render(args.host, args.module, path, out)
        if run.returncode != 0:
            problems.append(f"{path}: the reader refuses a good file (exit {run.returncode}): {run.stderr.strip()}")
    for path in bad:
        refused_by_schema = bool(schema_errors(path))
        if path.name in READER_ONLY:
            if refused_by_schema:
                problems.append(f"{path}: listed as beyond the schema, but the schema refuses it")
        elif not refused_by_schema:
            problems.append(f"{path}: the schema accepts a bad file")
        with tempfile.TemporaryDirectory() as out:
            run = render(args.host, args.module, path, out)
        field = FIELD_BROKEN.get(path.name)
        if field is None:
            problems.append(f"{path}: add the field it breaks to FIELD_BROKEN")
        elif run.returncode != 1 or f"{path.name}: {field}" not in run.stderr:
            problems.append(f"{path}: the reader should refuse it with exit 1 naming {field}, "
                            f"got exit {run.returncode}: {run.stderr.strip()}")
        else:
            print(f"{path.name}: {run.stderr.strip().splitlines()[-1]}")
    for name in READER_ONLY:
        if not (cases / "bad" / name).exists():
            problems.append(f"bad/{name} is listed as beyond the schema but missing")

    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"{len(good)} good files and examples, {len(bad)} bad files, {len(problems)} disagreements")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
