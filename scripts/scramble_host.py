#!/usr/bin/env python3
"""Writes a second declaration of the host from host/, with every layout
choice that host/ made freely made differently.

    scramble_host.py --host-dir host --out DIR [--summary FILE]

host/ has to choose where the host's published headers cannot be read here:
the order of a record's fields and what lies between them, the slots of a
function table that the effect does not call, the underlying type of an
enumeration, the type behind a handle, the tag of a struct. The effect must
depend on none of those choices. The declaration written to DIR keeps the
same file names and the same names, and changes every such choice:

- a data record's fields come in reverse order with a padding member before
  each, and a union's members in reverse order; a record whose comment says
  "Layout fixed by the host" is kept as it is;
- a function table keeps each member whose position host/ asserts
  (static_assert(offsetof(T, m) == N * sizeof(void*), ...)) at that position;
  every other member moves after them, in reverse order, behind reserved
  slots of other sizes than host/'s;
- every enumeration gets the underlying type long long;
- a handle declared as void** becomes char**;
- every struct and union tag gets another name.

Constant values, field names and types, function signatures and asserted
positions stay, and host/'s own static_asserts are copied, so the result
checks itself when compiled. The script fails on a declaration it does not
understand, so host/ cannot grow a record that escapes it.
"""

import argparse
import os
import re
import sys

FIXED_MARK = "Layout fixed by the host"
TAG_SUFFIX = "_Scrambled"
RECORD_START = re.compile(r"typedef (struct|union)(?: (\w+))? \{\s*(//.*)?$")
RECORD_END = re.compile(r"\}\s*(\w+)\s*;\s*(//.*)?$")
NESTED_START = re.compile(r"\s*(struct|union) \{\s*(//.*)?$")
NESTED_END = re.compile(r"\s*\}\s*(\w+)\s*;\s*(//.*)?$")
POSITION = re.compile(r"static_assert\(offsetof\((\w+),\s*(\w+)\)\s*==\s*(\d+)\s*\*\s*sizeof\(void\*\)")


class Fail(SystemExit):
    def __init__(self, where, what):
        super().__init__(f"scramble_host.py: {where}: {what}")


class Changes:
    """What the script changed, counted for the summary."""

    def __init__(self):
        self.reordered = []      # records whose members changed order
        self.padded = 0          # padding members put between fields
        self.kept = []           # records kept as the host fixes them
        self.tables = []         # function tables whose free slots moved
        self.enums = 0           # enumerations given another underlying type
        self.handles = []        # handle types changed
        self.tags = set()        # struct and union tags renamed

    def summary(self):
        return "\n".join([
            f"records reordered: {len(self.reordered)} ({', '.join(self.reordered)})",
            f"padding members inserted between fields: {self.padded}",
            f"records kept as the host fixes them: {len(self.kept)} ({', '.join(self.kept)})",
            f"function tables with their free members and reserved slots moved: {len(self.tables)} "
            f"({', '.join(self.tables)})",
            f"enumerations given the underlying type long long: {self.enums}",
            f"handle types changed from void** to char**: {len(self.handles)} ({', '.join(self.handles)})",
            f"struct and union tags renamed: {len(self.tags)}",
        ]) + "\n"


class Member:
    """One member of a record: its comment lines, its declaration text (one
    declarator), and for a nested record its kind and members."""

    def __init__(self, comments, text, name, nested=None, kind=None):
        self.comments = comments
        self.text = text
        self.name = name
        self.nested = nested
        self.kind = kind

    def is_function_pointer(self):
        return self.nested is None and "(*" in self.text

    def is_reserved_slot(self):
        return self.nested is None and re.match(r"void\*\s+reserved\w*(\[\d+\])?;", self.text.strip()) is not None


def split_declarators(where, text):
    """'A_long left, top;' -> ['A_long left;', 'A_long top;']; other text as it is."""
    body = text.strip()
    comment = ""
    if "//" in body:
        body, comment = body.split("//", 1)
        body, comment = body.strip(), "  //" + comment
    if "(" in body or "," not in body:
        return [(body + comment, declared_name(where, body))]
    first, *others = [part.strip() for part in body.rstrip(";").split(",")]
    match = re.match(r"(.*?[\s*])(\w+)$", first)
    if not match:
        raise Fail(where, f"cannot read the declaration '{text.strip()}'")
    base = match.group(1).rstrip()
    names = [match.group(2)] + others
    for name in names:
        if not re.fullmatch(r"\w+", name):
            raise Fail(where, f"cannot read the declarator '{name}' of '{text.strip()}'")
    return [(f"{base} {name};" + (comment if i == len(names) - 1 else ""), name) for i, name in enumerate(names)]


def declared_name(where, body):
    function = re.search(r"\(\*\s*(\w+)\s*\)", body)
    if function:
        return function.group(1)
    plain = re.search(r"(\w+)\s*(\[[^\]]*\])?\s*;$", body)
    if not plain:
        raise Fail(where, f"cannot find the name declared by '{body}'")
    return plain.group(1)


def parse_members(where, lines, index, end_pattern):
    """Members from lines[index] up to the line matching end_pattern.
    Returns (members, index of the closing line)."""
    members, comments = [], []
    while index < len(lines):
        line = lines[index]
        stripped = line.strip()
        if end_pattern.match(line):
            if comments:
                raise Fail(where, "a comment with no member after it")
            return members, index
        if stripped.startswith("//") or stripped == "":
            if stripped:
                comments.append(stripped)
            index += 1
            continue
        nested = NESTED_START.match(line)
        if nested:
            inner, close = parse_members(where, lines, index + 1, NESTED_END)
            name = NESTED_END.match(lines[close]).group(1)
            members.append(Member(comments + ([nested.group(2)] if nested.group(2) else []), "", name,
                                  nested=inner, kind=nested.group(1)))
            comments, index = [], close + 1
            continue
        # A declaration runs to the line ending in ';' (before any comment).
        text = [stripped]
        while not re.search(r";\s*(//.*)?$", text[-1]):
            index += 1
            if index >= len(lines):
                raise Fail(where, "a declaration that never ends")
            text.append(lines[index].strip())
        declarators = split_declarators(where, " ".join(text) if len(text) > 1 else text[0])
        if len(text) > 1:
            declarators = [("\n".join(text), declarators[0][1])]
        for i, (decl, name) in enumerate(declarators):
            members.append(Member(comments if i == 0 else [], decl, name))
        comments = []
        index += 1
    raise Fail(where, "a record that never closes")


def emit_member(member, indent, out, changes, scramble, parent):
    pad = " " * indent
    for comment in member.comments:
        out.append(pad + comment)
    if member.nested is None:
        for i, line in enumerate(member.text.split("\n")):
            out.append(pad + ("  " if i else "") + line)
        return
    out.append(f"{pad}{member.kind} {{")
    inner = scramble_data(member.kind, member.nested, changes, f"{parent}.{member.name}") if scramble else member.nested
    for m in inner:
        emit_member(m, indent + 2, out, changes, scramble, f"{parent}.{member.name}")
    out.append(f"{pad}}} {member.name};")


def scramble_data(kind, members, changes, name):
    """A data record's members in reverse order, with a padding member before
    each field of a struct."""
    if len(members) > 1:
        changes.reordered.append(name)
    result = []
    for i, member in enumerate(reversed(members)):
        if kind == "struct":
            changes.padded += 1
            result.append(Member([], f"A_char scrambled_pad_{i}[{1 + (len(changes.reordered) + i) % 7}];",
                                 f"scrambled_pad_{i}"))
        result.append(member)
    return result


def scramble_table(name, members, positions, changes, where):
    """Asserted members at their positions, reserved slots of other sizes
    before them, the others after them in reverse order."""
    fixed = {m.name: positions[m.name] for m in members if m.name in positions}
    for member in members:
        if member.name in fixed and not member.is_function_pointer():
            raise Fail(where, f"{name}.{member.name}: only a function pointer can hold an asserted position")
    free = [m for m in members if m.name not in fixed and not m.is_reserved_slot()]
    changes.tables.append(name)
    result, slot, pads = [], 0, 0

    def reserve(count):
        nonlocal slot, pads
        if count > 0:
            result.append(Member([], f"void* scrambled_slots_{pads}[{count}];", f"scrambled_slots_{pads}"))
            slot += count
            pads += 1

    by_position = sorted(((p, m) for m in members for n, p in fixed.items() if m.name == n), key=lambda x: x[0])
    for position, member in by_position:
        if position < slot:
            raise Fail(where, f"{name}.{member.name}: two members asserted at slot {position}")
        reserve(position - slot)
        result.append(member)
        slot += 1
    for i, member in enumerate(reversed(free)):
        reserve(2 + i % 3)
        result.append(member)
    reserve(5)
    return result


def scramble_record(where, lines, start, positions, changes):
    """The record that starts at lines[start]; returns (new lines, next index)."""
    head = RECORD_START.match(lines[start])
    kind, tag = head.group(1), head.group(2)
    members, close = parse_members(where, lines, start + 1, RECORD_END)
    name = RECORD_END.match(lines[close]).group(1)
    comment_above = []
    back = start - 1
    while back >= 0 and lines[back].strip().startswith("//"):
        comment_above.insert(0, lines[back])
        back -= 1
    fixed = any(FIXED_MARK in line for line in comment_above)

    if fixed:
        new_members = members
        changes.kept.append(name)
    elif all(m.is_function_pointer() or m.is_reserved_slot() or m.nested is None and m.text.split()[0] in TABLES
             for m in members) and any(m.is_function_pointer() for m in members):
        TABLES.add(name)
        new_members = scramble_table(name, members, positions.get(name, {}), changes, where)
    else:
        for m in members:
            if m.is_function_pointer():
                raise Fail(where, f"{name} mixes function pointers with data; say which it is")
        new_members = scramble_data(kind, members, changes, name)

    if tag:
        changes.tags.add(tag)
    out = [f"typedef {kind}" + (f" {tag}{TAG_SUFFIX}" if tag else "") + " {"]
    for member in new_members:
        emit_member(member, 2, out, changes, not fixed, name)
    out.append(lines[close])
    return out, close + 1


TABLES = set()


def scramble_text(where, text, changes):
    positions = {}
    for table, member, position in POSITION.findall(text):
        positions.setdefault(table, {})[member] = int(position)
    lines = text.split("\n")
    out, index = [], 0
    while index < len(lines):
        line = lines[index]
        if RECORD_START.match(line):
            record, index = scramble_record(where, lines, index, positions, changes)
            out += record
            continue
        if line.startswith("typedef struct") or line.startswith("typedef union"):
            if "{" in line:
                raise Fail(where, f"a record opened in a form the script does not read: '{line}'")
        if re.search(r"\benum\s*\{", line):
            line = re.sub(r"\benum\s*\{", "enum : long long {", line)
            changes.enums += 1
        elif re.search(r"\benum\b", line) and not line.strip().startswith("//"):
            raise Fail(where, f"an enumeration in a form the script does not read: '{line}'")
        handle = re.match(r"typedef void\*\* (\w+);", line)
        if handle:
            line = f"typedef char** {handle.group(1)};"
            changes.handles.append(handle.group(1))
        out.append(line)
        index += 1
    result = "\n".join(out)
    # Tags of opaque structs named in pointer typedefs.
    for opaque in re.findall(r"\bstruct (\w+)\s*\*", result):
        changes.tags.add(opaque)
    return result


def rename_tags(text, tags):
    for tag in sorted(tags, key=len, reverse=True):
        text = re.sub(rf"\b(struct|union) {tag}\b(?!{TAG_SUFFIX})", rf"\1 {tag}{TAG_SUFFIX}", text)
    return text


def include_order(host_dir, names):
    """Headers after the ones they include, so tables met in one file are known in the next."""
    texts = {n: open(os.path.join(host_dir, n)).read() for n in names}
    ordered = []

    def place(name, path):
        if name in ordered:
            return
        if name in path:
            raise Fail(name, "include cycle")
        for included in re.findall(r'#\s*include\s+"([^"]+)"', texts[name]):
            if included not in texts:
                raise Fail(name, f"includes {included}, which host/ does not hold")
            place(included, path + [name])
        ordered.append(name)

    for name in names:
        place(name, [])
    return ordered, texts


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host-dir", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--summary", help="also write what was changed to this file")
    args = parser.parse_args(argv)
    names = sorted(n for n in os.listdir(args.host_dir) if n.endswith(".h"))
    if not names:
        raise Fail(args.host_dir, "no headers")
    ordered, texts = include_order(args.host_dir, names)
    changes = Changes()
    scrambled = {name: scramble_text(os.path.join(args.host_dir, name), texts[name], changes) for name in ordered}
    os.makedirs(args.out, exist_ok=True)
    for name in names:
        text = rename_tags(scrambled[name], changes.tags)
        header = ("// Generated by scripts/scramble_host.py from host/" + name +
                  ": the same names, every layout choice of host/ made differently.\n")
        path = os.path.join(args.out, name)
        previous = open(path).read() if os.path.exists(path) else None
        if previous != header + text:  # unchanged files keep their time, so nothing rebuilds for nothing
            with open(path, "w") as f:
                f.write(header + text)
    summary = changes.summary()
    if args.summary:
        with open(args.summary, "w") as f:
            f.write(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
