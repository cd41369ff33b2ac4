#!/usr/bin/env python3
"""Lists every host name the effect and Util/ use, as the compiler sees them.

    host_interface.py --write docs/host-interface.md
    host_interface.py --check docs/host-interface.md

Each translation unit of the module is parsed by clang (-ast-dump=json) with
host/ on its include path, once as each platform compiles it (the build
machine, the Windows target, the macOS target: scripts/effect_platforms.py),
so a name used only under _WIN32 or only on macOS is listed too. Walking the declarations that lie in the effect's
own files, the script keeps every declaration of host/ they reference: types
named in their types, record fields and function-table members they reach,
enumerators, and macros whose expansion they contain (a macro is known by the
host/ line its expanded tokens are spelled on). --check regenerates the page
and fails, showing the difference, when it is not the one given.

Each name is marked given (the host's own name for what the effect's design
names) or assumed (a name this build expects the host's headers to use, with
what the effect expects of it); GIVEN below is the list of the first kind.
"""

import argparse
import difflib
import json
import os
import re
import subprocess
import sys

import effect_platforms

EFFECT_DIRS = effect_platforms.EFFECT_DIRS
HOST_DIR = "host"

# Names the effect's design takes from the host's interface as the host names
# them: its records and their fields, the callbacks and suite functions it
# calls (with their positions), the commands, error codes and flag values.
# Every other name on the page is this build's assumption about how the
# host's headers spell something the effect needs.
GIVEN = set("""
AEGP_CompH AEGP_EffectRefH AEGP_LayerH AEGP_StreamRefH AEGP_LayerIDVal AEGP_PluginID AEGP_StreamValue2
AEGP_ConvertCompToLayerTime AEGP_DisposeEffect AEGP_DisposeStream AEGP_DisposeStreamValue AEGP_GetCompFramerate
AEGP_GetEffectLayer AEGP_GetLayerDuration AEGP_GetLayerFromLayerID AEGP_GetLayerInPoint AEGP_GetLayerParentComp
AEGP_GetNewEffectForEffect AEGP_GetNewEffectStreamByIndex AEGP_GetNewStreamValue AEGP_RegisterWithAEGP
AEGP_SetDynamicStreamFlag AEGP_DynStreamFlag_HIDDEN AEGP_LTimeMode_CompTime AEGP_LTimeMode_LayerTime
A_Boolean A_Time A_long SPBasicSuite AcquireSuite ReleaseSuite
PF_CheckoutResult PF_Cmd PF_EffectWorld PF_Err PF_Fixed PF_FpLong PF_FpShort PF_InData PF_LRect PF_LayerDef
PF_OutData PF_ParamDef PF_ParamIndex PF_PreRenderExtra PF_PreRenderInput PF_PreRenderOutput PF_RationalScale
PF_RenderRequest PF_SmartRenderExtra
PF_Cmd_ABOUT PF_Cmd_GLOBAL_SETUP PF_Cmd_GLOBAL_SETDOWN PF_Cmd_PARAMS_SETUP PF_Cmd_UPDATE_PARAMS_UI
PF_Cmd_SMART_PRE_RENDER PF_Cmd_SMART_RENDER PF_Err_NONE PF_Err_OUT_OF_MEMORY PF_Err_INTERNAL_STRUCT_DAMAGED
PF_Err_BAD_CALLBACK_PARAM PF_LayerDefault_NONE PF_OutFlag_DISPLAY_ERROR_MESSAGE PF_OutFlag_REFRESH_UI
PF_OutFlag_DEEP_COLOR_AWARE PF_OutFlag_SEND_UPDATE_PARAMS_UI PF_OutFlag2_FLOAT_COLOR_AWARE
PF_OutFlag2_SUPPORTS_SMART_RENDER PF_ParamFlag_START_COLLAPSED PF_Param_FIX_SLIDER PF_Param_FLOAT_SLIDER
PF_Param_LAYER PF_Param_POPUP PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS PF_Stage_RELEASE PF_ValueDisplayFlag_PERCENT
host_new_handle host_lock_handle host_unlock_handle host_dispose_handle
add_param checkin_param checkout_param checkout_layer checkout_layer_pixels checkout_output copy sprintf strcpy
ansi inter utils cb input output output_request pre_render_data result_rect max_result_rect flags rect
preserve_rgb_of_zero_alpha left top right bottom num den value scale data width height dephault ld pd fd fs_d
u uu id namesptr num_choices precision display_flags valid_min valid_max slider_min slider_max fs_flags
curve_tolerance param_type name my_version global_data num_params out_flags out_flags2 return_msg
effect_ref current_time time_step time_scale downsample_x downsample_y pica_basicP val layer_id
""".split())
TITLE = "# The host interface the effect uses"


class Walk:
    """One translation unit's AST, walked in the order clang wrote it.

    clang writes a source location's file and line only when they differ from
    the location written just before, so both are carried along the walk."""

    def __init__(self, source_dir):
        self.source_dir = source_dir
        self.file = None
        self.line = None
        self.decls = {}          # id -> declaration facts, for host/ declarations
        self.used_ids = set()    # ids of host/ declarations referenced from the effect
        self.used_types = set()  # identifiers in the effect's types
        self.macro_lines = set()  # (host file, line) that the effect's expanded tokens are spelled on

    def relative(self, path):
        if path is None:
            return None
        if os.path.isabs(path):
            path = os.path.relpath(path, self.source_dir)
        return os.path.normpath(path)

    def bare_location(self, loc):
        """Brings the carried file and line up to date; returns the file."""
        if "file" in loc:
            self.file = self.relative(loc["file"])
        if "line" in loc:
            self.line = loc["line"]
        return self.file

    def location(self, loc, in_effect):
        """The file of a location (its expansion's for a macro); notes the
        host/ line a token of the effect is spelled on."""
        if not loc:
            return None
        if "spellingLoc" in loc:
            spelled = self.bare_location(loc["spellingLoc"])
            spelled_line = self.line
            expanded = self.bare_location(loc["expansionLoc"])
            if in_effect and is_host(spelled):
                self.macro_lines.add((spelled, spelled_line))
            return expanded
        if "offset" in loc:
            return self.bare_location(loc)
        return None

    def node(self, node, in_effect, parent_record=None):
        """Walks one node. in_effect: the node lies in a top-level declaration
        of the effect's files."""
        file = position = None
        for key, value in node.items():
            if key == "loc":
                file = self.location(value, in_effect)
                position = (file, self.line, find_key(value, "col") or 0)
            elif key == "range":
                self.location(value.get("begin"), in_effect)
                self.location(value.get("end"), in_effect)
            elif key == "inner":
                self.children(node, value, in_effect, file)
            elif in_effect:
                self.reference(key, value)
        if "id" in node and node.get("kind", "").endswith("Decl") and is_host(file):
            self.declaration(node, file, position, parent_record)

    def children(self, node, inner, in_effect, file):
        kind = node.get("kind", "")
        record = node["id"] if kind in ("RecordDecl", "CXXRecordDecl") else None
        previous = None
        for child in inner:
            if not isinstance(child, dict):
                continue
            self.node(child, in_effect, record)
            # An unnamed struct or union takes its name from the field that declares it.
            if (record and previous is not None and child.get("kind") == "FieldDecl"
                    and previous.get("kind") in ("RecordDecl", "CXXRecordDecl") and not previous.get("name")
                    and previous["id"] in self.decls):
                self.decls[previous["id"]]["field_of"] = (record, child.get("name"))
            if kind == "TypedefDecl":
                self.typedef_target(node, child)
            previous = child

    def typedef_target(self, typedef, child):
        """typedef struct {...} Name: the record is known as Name."""
        target = find_key(child, "decl")
        if target and target.get("kind") in ("RecordDecl", "CXXRecordDecl", "EnumDecl"):
            self.decls.setdefault(target["id"], {})["typedef_name"] = typedef.get("name")

    def reference(self, key, value):
        if key == "referencedDecl" and isinstance(value, dict):
            self.used_ids.add(value["id"])
        elif key == "referencedMemberDecl":
            self.used_ids.add(value)
        elif key in ("type", "argType") and isinstance(value, dict) and "qualType" in value:
            self.used_types.update(re.findall(r"[A-Za-z_]\w*", value["qualType"]))

    def declaration(self, node, file, position, parent_record):
        """position: file, line and column, which order a record's fields the
        same way in every translation unit."""
        facts = self.decls.setdefault(node["id"], {})
        facts.update(kind=node["kind"], name=node.get("name", ""), file=file, parent=parent_record,
                     type=node.get("type", {}).get("qualType", ""), order=position)
        if node["kind"] == "EnumConstantDecl":
            value = find_key(node, "value")
            if value is not None:
                facts["value"] = int(value)

    def translation_unit(self, tu):
        for top in tu.get("inner", []):
            # Where a top-level declaration lies decides whether its contents are the effect's.
            saved = (self.file, self.line)
            file = self.location(top.get("loc"), False)
            self.file, self.line = saved
            self.node(top, is_effect(file))


def is_host(path):
    return path is not None and path.split(os.sep)[0] == HOST_DIR


def is_effect(path):
    return path is not None and path.split(os.sep)[0] in EFFECT_DIRS


def find_key(node, key):
    """The first value under key in document order, at any depth."""
    if isinstance(node, dict):
        if key in node:
            return node[key]
        children = node.values()
    elif isinstance(node, list):
        children = node
    else:
        return None
    for child in children:
        found = find_key(child, key)
        if found is not None:
            return found
    return None


def parse(source_dir, clang, unit, walk, platform):
    command = ([clang] + effect_platforms.clang_target_flags(platform) +
               ["-std=c++17", "-fsyntax-only", "-Xclang", "-ast-dump=json"] +
               effect_platforms.include_flags(HOST_DIR) + [unit])
    result = subprocess.run(command, cwd=source_dir, capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"host_interface.py: {' '.join(command)} failed:\n{result.stderr}")
    walk.translation_unit(json.loads(result.stdout))


def macros(source_dir):
    """name -> (file, first line, last line, replacement text) of every #define in host/."""
    found = {}
    host = os.path.join(source_dir, HOST_DIR)
    for name in sorted(os.listdir(host)):
        path = os.path.join(HOST_DIR, name)
        lines = open(os.path.join(source_dir, path)).read().split("\n")
        index = 0
        while index < len(lines):
            match = re.match(r"\s*#\s*define\s+(\w+)(\([^)]*\))?\s*(.*)", lines[index])
            first = index
            while lines[index].rstrip().endswith("\\"):
                index += 1
            if match:
                body = " ".join(l.rstrip("\\").strip() for l in [match.group(3)] + lines[first + 1:index + 1])
                found[match.group(1)] = (path, first + 1, index + 1, (match.group(2) or "") + " " + body.strip())
            index += 1
    return found


def table_slots(field_type, records_by_name):
    """How many pointer-sized slots a member of a function table takes, or
    None when it is no member of a function table."""
    array = re.fullmatch(r"void \*\[(\d+)\]", field_type)
    if array:
        return int(array.group(1))
    if "(*)" in field_type or field_type in ("void *",):
        return 1
    return records_by_name.get(field_type, {}).get("slots")


def collect(source_dir, clang):
    """What every translation unit uses on every platform, merged by name
    (declaration ids are a unit's own). A type's declaration may differ by
    platform: used_types maps its name to its file and, for each spelling,
    the platforms that see it."""
    used_types, used_records, tables, used_constants, used_macros = {}, {}, set(), {}, {}
    host_macros = macros(source_dir)
    for platform, unit in [(p, u) for p in effect_platforms.PLATFORMS
                           for u in effect_platforms.translation_units(source_dir)]:
        walk = Walk(source_dir)
        parse(source_dir, clang, unit, walk, platform)
        types, records, unit_tables, constants = names_used(walk)
        for name, file, underlying in types:
            spellings = used_types.setdefault(name, (file, {}))[1]
            spellings.setdefault(underlying, set()).add(platform)
        tables |= unit_tables
        for name, fields in records.items():
            used_records.setdefault(name, set()).update(fields)
        for file, names in constants.items():
            used_constants.setdefault(file, set()).update(names)
        for name, (file, first, last, text) in host_macros.items():
            if any(f == file and first <= line <= last for f, line in walk.macro_lines):
                used_macros.setdefault(file, set()).add((name, text))
    return used_types, used_records, tables, used_constants, used_macros


def names_used(walk):
    decls = walk.decls

    def record_name(record_id):
        facts = decls.get(record_id, {})
        if facts.get("name"):
            return facts["name"]
        if facts.get("typedef_name"):
            return facts["typedef_name"]
        if "field_of" in facts:
            parent, field = facts["field_of"]
            return f"{record_name(parent)}.{field}"
        return "(unnamed)"

    # Fields by record, in declaration order; a record whose every member is a
    # pointer to a function (or a reserved slot, or such a table) is a function table.
    records = {}
    unordered = ("", 0, 0)
    for decl_id, facts in sorted(decls.items(), key=lambda item: item[1].get("order") or unordered):
        if facts.get("kind") == "FieldDecl" and facts.get("parent"):
            records.setdefault(facts["parent"], []).append((decl_id, facts))
    by_name = {}
    for record_id in sorted(records, key=lambda r: decls[r].get("order") or unordered):
        fields = records[record_id]
        entry = {"id": record_id, "fields": fields}
        slots = [table_slots(f["type"], by_name) for _, f in fields]
        if all(s is not None for s in slots):
            entry["positions"] = [sum(slots[:i]) for i in range(len(slots))]
            entry["slots"] = sum(slots)
        by_name[record_name(record_id)] = entry
        for alias in ("struct " + record_name(record_id),):
            by_name[alias] = entry

    used_records, used_constants, used_types = {}, {}, set()
    for decl_id in walk.used_ids:
        facts = decls.get(decl_id)
        if not facts:
            continue
        if facts["kind"] == "FieldDecl":
            name = record_name(facts["parent"])
            entry = by_name[name]
            position = None
            if "positions" in entry:
                position = entry["positions"][[i for i, _ in entry["fields"]].index(decl_id)]
            used_records.setdefault(name, set()).add((facts["order"], facts["name"], facts["type"], position))
        elif facts["kind"] == "EnumConstantDecl":
            used_constants.setdefault(facts["file"], set()).add((facts["name"], facts.get("value")))
    type_names = {}
    for facts in decls.values():
        if facts.get("kind") in ("TypedefDecl", "TypeAliasDecl", "RecordDecl", "CXXRecordDecl", "EnumDecl") and facts.get("name"):
            type_names[facts["name"]] = facts
    for name in walk.used_types:
        if name in type_names:
            facts = type_names[name]
            used_types.add((name, facts["file"], facts["type"] if facts["kind"] == "TypedefDecl" else "struct"))
    tables = {name for name in used_records if "positions" in by_name[name]}
    return used_types, used_records, tables, used_constants


def given_or_assumed(name, expectation):
    return "given" if name in GIVEN else f"assumed: {expectation}"


def type_expectation(name, tables):
    if name in tables:
        return "the suite version's function table, the members below at their positions"
    return "a type, as in the last column"


def as_spelled(spellings):
    """`int`, or `int` (build machine, macOS); `long` (Windows) where platforms differ."""
    if len(spellings) == 1:
        return f"`{next(iter(spellings))}`"
    order = {p: i for i, p in enumerate(effect_platforms.PLATFORMS)}
    parts = sorted(spellings.items(), key=lambda item: min(order[p] for p in item[1]))
    return "; ".join(f"`{u}` ({', '.join(sorted(ps, key=order.get))})" for u, ps in parts)


def render(used_types, used_records, tables, used_constants, used_macros):
    out = [TITLE, "",
           "Every name of the host's interface that the effect (`TovaneParvolith/`) and `Util/`",
           "use, on the build machine, Windows and macOS, grouped by record and suite, with the",
           "declaration in `host/` the compiler resolved it to. A build against the host's published",
           "headers (README, \"Installing the effect\") needs each name there with the same meaning.",
           "Nothing of a record's layout is assumed beyond the positions listed for function tables",
           "(the scrambled build proves it). Generated from the code by",
           "`python3 scripts/host_interface.py --write docs/host-interface.md`; the test",
           "`host_interface_doc` fails when this page and the code disagree.", ""]

    out += ["## Types", "",
            "Given: the host's own name, as the effect's design names it. Assumed: this build's",
            "expectation of the host's spelling; where the host's headers spell it otherwise, one line",
            "in the umbrella header maps it (`typedef <host's name> <name>;`, `#define <name> <value>`).",
            "", "| Name | Given or assumed | Declared in `host/` | As |", "|---|---|---|---|"]
    for name in sorted(used_types):
        file, spellings = used_types[name]
        out.append(f"| `{name}` | {given_or_assumed(name, type_expectation(name, tables))} | "
                   f"{os.path.basename(file)} | {as_spelled(spellings)} |")

    plain = sorted(set(used_records) - tables)
    tables = sorted(tables)
    out += ["", "## Record fields", ""]
    for name in plain:
        out += [f"### `{name}`", "", "| Field | Given or assumed | Type |", "|---|---|---|"]
        for _, field, field_type, _ in sorted(used_records[name]):
            out.append(f"| `{field}` | {given_or_assumed(field, 'a field of this type')} | `{field_type}` |")
        out.append("")
    out += ["## Callback and suite members", "",
            "Position: the member's slot in its function table, counted in pointers from 0.", ""]
    for name in tables:
        out += [f"### `{name}`", "", "| Position | Member | Given or assumed | Type |", "|---|---|---|---|"]
        for _, field, field_type, position in sorted(used_records[name]):
            out.append(f"| {position} | `{field}` | {given_or_assumed(field, f'this type at position {position}')} | "
                       f"`{field_type}` |")
        out.append("")

    out += ["## Constants and flag values", ""]
    files = sorted(set(used_constants) | set(used_macros))
    for file in files:
        out += [f"### {os.path.basename(file)}", "", "| Name | Given or assumed | Value |", "|---|---|---|"]
        for name, value in sorted(used_constants.get(file, ()), key=lambda c: (c[1] is None, c[1], c[0])):
            mark = given_or_assumed(name, f"an integer constant {value}")
            out.append(f"| `{name}` | {mark} | {value} ({value:#x}) |" if value is not None else f"| `{name}` | {mark} | |")
        for name, text in sorted(used_macros.get(file, ())):
            out.append(f"| `{name}` | {given_or_assumed(name, 'a macro that packs as shown')} | "
                       f"`#define {name}{text.replace('|', '&#124;')}` |")
        out.append("")
    return "\n".join(out).rstrip("\n") + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source-dir", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--clang", default="clang++")
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--write", metavar="PAGE")
    action.add_argument("--check", metavar="PAGE")
    args = parser.parse_args(argv)
    source_dir = os.path.abspath(args.source_dir)
    page = render(*collect(source_dir, args.clang))
    if args.write:
        with open(args.write, "w") as f:
            f.write(page)
        return 0
    with open(args.check) as f:
        written = f.read()
    if written == page:
        return 0
    sys.stdout.writelines(difflib.unified_diff(written.splitlines(True), page.splitlines(True),
                                               args.check, "generated from the code"))
    print(f"{args.check} disagrees with the code; regenerate it with: "
          f"python3 scripts/host_interface.py --write {args.check}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
