#!/usr/bin/env python3
"""Writes a stand-in for the host's published headers from a declaration of the host.

    make_host_standin.py --declaration DIR --out DIR

The declarations of DIR (the scrambled build's, whose layouts differ from
host/'s in every choice host/ made), merged into two files under other names,
DIR/include/tovane_host_records.hpp and DIR/include/tovane_host_suites.hpp,
and an umbrella header DIR/tovane_host_umbrella.h that includes both. A
module that builds and behaves the same against it reaches host/ only through
its one seam, AE_Host.h, and needs no file name of host/.
"""

import argparse
import os
import re
import sys

OUR_UMBRELLA = "AE_Host.h"
LOCAL_INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def headers(host_dir):
    """host/'s headers, each after the ones it includes."""
    names = sorted(n for n in os.listdir(host_dir) if n.endswith(".h") and n != OUR_UMBRELLA)
    texts = {n: open(os.path.join(host_dir, n)).read() for n in names}
    ordered, placed = [], set()

    def place(name, path):
        if name in placed:
            return
        if name in path:
            raise SystemExit(f"make_host_standin.py: include cycle through {name}")
        if name not in texts:
            raise SystemExit(f"make_host_standin.py: {path[-1]} includes {name}, which the declaration does not hold")
        for included in LOCAL_INCLUDE.findall(texts[name]):
            place(included, path + [name])
        placed.add(name)
        ordered.append(name)

    for name in names:
        place(name, [])
    return [(name, texts[name]) for name in ordered]


def body(text):
    """The declarations of one header, without its guard and its includes of host/."""
    lines = [line for line in text.split("\n")
             if not LOCAL_INCLUDE.match(line) and line.strip() != "#pragma once"]
    return "\n".join(lines).strip("\n")


def merged(parts, includes):
    out = ["// Stand-in for the host's published headers, made by the seam test.", "#pragma once", ""]
    out += [f'#include "{name}"' for name in includes] + [""]
    for name, text in parts:
        out += [f"// ---- was {name}", body(text), ""]
    return "\n".join(out)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--declaration", required=True, help="folder of the declaration's headers")
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    parts = headers(args.declaration)
    suites = [p for p in parts if p[0].startswith("AEGP_")]
    records = [p for p in parts if not p[0].startswith("AEGP_")]
    include = os.path.join(args.out, "include")
    os.makedirs(include, exist_ok=True)
    with open(os.path.join(include, "tovane_host_records.hpp"), "w") as f:
        f.write(merged(records, []))
    with open(os.path.join(include, "tovane_host_suites.hpp"), "w") as f:
        f.write(merged(suites, ["tovane_host_records.hpp"]))
    with open(os.path.join(args.out, "tovane_host_umbrella.h"), "w") as f:
        f.write("// The umbrella a user writes over the host's headers.\n#pragma once\n\n"
                '#include "tovane_host_records.hpp"\n#include "tovane_host_suites.hpp"\n')
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
