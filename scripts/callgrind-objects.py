#!/usr/bin/env python3
"""Self cost (instructions) per object file in a callgrind output file.

Usage: callgrind-objects.py CALLGRIND_OUT [--functions N]
Prints "<instructions> <object>" lines, largest first; with --functions, also
the N costliest functions with their object.

module_cost() gives what one object spends itself: its own instructions plus
those of the C and C++ runtime routines it calls (memset, memcpy and the
like). Whether a compiler zeroes a record inline or calls memset for it then
makes no difference to the count; calls into anything else (the host) are
left out.
"""
import collections
import re
import sys

RUNTIME_PREFIXES = ("libc.so", "libc-", "libm.so", "libstdc++.so", "libgcc_s.so", "ld-linux")


def costs(path):
    """Yields (object, function, callee object or None, instructions) for each
    cost line: a callee object for a call's inclusive cost, None for the
    function's own instructions."""
    names = {"ob": {}, "fn": {}}
    ob = fn = callee_ob = None
    in_call = False

    def resolve(kind, text):
        m = re.match(r"\((\d+)\)(?:\s+(.*))?$", text.strip())
        if not m:
            return text.strip()
        ident, name = m.group(1), m.group(2)
        if name is not None:
            names[kind][ident] = name
        return names[kind].get(ident, ident)

    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            if line.startswith("ob="):
                ob, callee_ob = resolve("ob", line[3:]), None
            elif line.startswith("fn="):
                fn = resolve("fn", line[3:])
            elif line.startswith("cob="):
                callee_ob = resolve("ob", line[4:])
            elif line.startswith("cfn="):
                resolve("fn", line[4:])
            elif line.startswith("calls="):
                in_call = True  # the next cost line is the call's inclusive cost
            elif line[0].isdigit() or line[0] in "+-*":
                parts = line.split()
                if len(parts) >= 2:
                    yield ob, fn, ((callee_ob or ob) if in_call else None), int(parts[1])
                if in_call:
                    in_call, callee_ob = False, None


def parse(path):
    by_object = collections.Counter()
    by_function = collections.Counter()
    for ob, fn, callee, cost in costs(path):
        if callee is None:
            by_object[ob] += cost
            by_function[(ob, fn)] += cost
    return by_object, by_function


def module_cost(path, module_suffix):
    """(own instructions, instructions in runtime routines it calls) of the
    object whose path ends with module_suffix."""
    own = runtime = 0
    for ob, _, callee, cost in costs(path):
        if ob is None or not ob.endswith(module_suffix):
            continue
        if callee is None:
            own += cost
        elif callee.rsplit("/", 1)[-1].startswith(RUNTIME_PREFIXES):
            runtime += cost
    return own, runtime


def main():
    path = sys.argv[1]
    top = int(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[2] == "--functions" else 0
    by_object, by_function = parse(path)
    for ob, cost in by_object.most_common():
        print(cost, ob)
    if top:
        print()
        for (ob, fn), cost in by_function.most_common(top):
            print(cost, fn, "[" + (ob or "?").rsplit("/", 1)[-1] + "]")


if __name__ == "__main__":
    main()
