#!/usr/bin/env python3
"""Checks the macOS bundle as the host and its loader would see it.

The property-list resource is read back from a freshly generated
TovaneParvolith.rsrc every time. The bundle itself (Mach-O type, exports,
thrown error type, Info.plist, PkgInfo, the .rsrc inside it) is checked when
TOVANE_MACOS_BUILD_DIR names a cross-build directory that holds it.

Environment: TOVANE_SOURCE_DIR (repository root), TOVANE_MACOS_BUILD_DIR
(optional), LLVM_OBJDUMP and LLVM_NM (tool paths).
"""

import fnmatch
import os
import plistlib
import re
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("TOVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
MACOS_BUILD_DIR = os.environ.get("TOVANE_MACOS_BUILD_DIR", "")
LLVM_OBJDUMP = os.environ.get("LLVM_OBJDUMP", "llvm-objdump")
LLVM_NM = os.environ.get("LLVM_NM", "llvm-nm")
# The build machine's module built against the scrambled declaration of the
# host (optional): the same functions, under other spellings of the host's types.
SCRAMBLED_MODULE = os.environ.get("TOVANE_SCRAMBLED_MODULE", "")

BUNDLE = os.path.join(MACOS_BUILD_DIR, "TovaneParvolith.plugin") if MACOS_BUILD_DIR else ""


# ---------------------------------------------------------------------------
# Resource file reader, written from the Resource Manager's layout rather than
# from the generator, so that a fault in one is not mirrored in the other.

class ResourceFileError(Exception):
    pass


def read_resources(blob):
    """{(type, id): data} of a classic resource file, with every offset and
    length checked against the file."""
    if len(blob) < 16:
        raise ResourceFileError("shorter than the 16-byte header")
    data_off, map_off, data_len, map_len = struct.unpack_from(">IIII", blob, 0)
    if data_off + data_len > len(blob) or map_off + map_len != len(blob):
        raise ResourceFileError(
            f"header areas data {data_off}+{data_len}, map {map_off}+{map_len} do not fit a {len(blob)}-byte file")
    if data_off + data_len > map_off:
        raise ResourceFileError("data overlaps the map")
    resource_map = blob[map_off:map_off + map_len]
    if resource_map[:16] not in (bytes(16), blob[:16]):
        raise ResourceFileError("map does not start with a header copy or zeros")
    type_list_off, name_list_off = struct.unpack_from(">HH", resource_map, 24)
    if name_list_off > map_len:
        raise ResourceFileError(f"name list offset {name_list_off} past the map")
    (type_count_m1,) = struct.unpack_from(">h", resource_map, type_list_off)
    resources = {}
    for t in range(type_count_m1 + 1):
        code, count_m1, ref_off = struct.unpack_from(">4shH", resource_map, type_list_off + 2 + 8 * t)
        for r in range(count_m1 + 1):
            entry = type_list_off + ref_off + 12 * r
            if entry + 12 > name_list_off:
                raise ResourceFileError("reference list runs into the name list")
            res_id, name_off, _attrs = struct.unpack_from(">hhB", resource_map, entry)
            res_data_off = int.from_bytes(resource_map[entry + 5:entry + 8], "big")
            if name_off != -1:
                raise ResourceFileError(f"resource {code!r} {res_id} has a name; none was written")
            start = data_off + res_data_off
            if start + 4 > data_off + data_len:
                raise ResourceFileError(f"resource {code!r} {res_id} starts past the data")
            (length,) = struct.unpack_from(">I", blob, start)
            if start + 4 + length > data_off + data_len:
                raise ResourceFileError(f"resource {code!r} {res_id} runs past the data")
            resources[(code.decode("mac_roman"), res_id)] = blob[start + 4:start + 4 + length]
    return resources


def walk_property_list(pipl):
    """[(vendor, key, id, data)] read as the host walks the list: the header,
    then 16 + the length brought up to a multiple of 4 per property. Codes are
    read big-endian, as the macOS host reads them."""
    word, version, count = struct.unpack_from(">hii", pipl, 0)
    if (word, version) != (1, 0):
        raise AssertionError(f"list header word {word}, version {version}")
    props = []
    offset = 10
    for _ in range(count):
        vendor, key, prop_id, length = struct.unpack_from(">4s4sii", pipl, offset)
        data = pipl[offset + 16:offset + 16 + length]
        padding = pipl[offset + 16 + length:offset + 16 + ((length + 3) & ~3)]
        if any(padding):
            raise AssertionError(f"non-zero padding after {key!r}")
        props.append((vendor.decode(), key.decode(), prop_id, data))
        offset += 16 + ((length + 3) & ~3)
    if offset != len(pipl):
        raise AssertionError(f"list ends at {offset}, resource holds {len(pipl)} bytes")
    return props


def pascal(text):
    body = bytes([len(text)]) + text.encode()
    return body + bytes(-len(body) % 4)


EXPECTED_PROPERTIES = [
    ("kind", b"eFKT"),
    ("name", pascal("TovaneParvolith")),
    ("catg", pascal("Tovane")),
    ("mi64", b"EntryPointFunc\0\0"),
    ("ePVR", struct.pack(">hh", 2, 0)),
    ("eSVR", struct.pack(">hh", 13, 0)),
    ("eVER", struct.pack(">I", 0x80601)),
    ("eINF", struct.pack(">h", 0)),
    ("eGLO", struct.pack(">I", 0x6000000)),
    ("eGL2", struct.pack(">I", 0x1400)),
    ("eMNA", pascal("TovaneParvolith")),
    ("aeFL", struct.pack(">I", 8)),
]


class PropertyListResourceCase:
    """Checks shared by the generated file and the bundle's copy."""

    rsrc = b""

    def test_one_piPL_resource_16000(self):
        resources = read_resources(self.rsrc)
        self.assertEqual(list(resources), [("PiPL", 16000)])

    def test_twelve_properties_with_the_mac_entry_point(self):
        pipl = read_resources(self.rsrc)[("PiPL", 16000)]
        props = walk_property_list(pipl)
        self.assertEqual([(v, i) for v, _, i, _ in props], [("8BIM", 0)] * 12)
        self.assertEqual([(k, d) for _, k, _, d in props], EXPECTED_PROPERTIES)
        self.assertNotIn("8664", [k for _, k, _, _ in props])
        self.assertEqual(len(pipl), 290)


class GeneratedResourceTest(PropertyListResourceCase, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as tmp:
            pipl = os.path.join(tmp, "TovaneParvolith_mac.pipl")
            out = os.path.join(tmp, "TovaneParvolith.rsrc")
            subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "TovaneParvolith", "pipl_gen.py"),
                            "--platform", "mac", "--out", pipl], check=True)
            subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "TovaneParvolith", "Mac", "make_rsrc.py"),
                            "--pipl", pipl, "--out", out], check=True)
            with open(out, "rb") as f:
                cls.rsrc = f.read()

    def test_reader_rejects_a_truncated_file(self):
        with self.assertRaises(ResourceFileError):
            read_resources(self.rsrc[:-1])


# ---------------------------------------------------------------------------
# The cross-built bundle

def needs_bundle(cls):
    # A build directory that was named but holds no bundle is a failed cross
    # build, not a reason to skip.
    return unittest.skipUnless(BUNDLE, "TOVANE_MACOS_BUILD_DIR not set: no cross-built bundle to check")(cls)


def contents(*parts):
    return os.path.join(BUNDLE, "Contents", *parts)


MH_MAGIC_64 = 0xFEEDFACF
CPU_TYPE_X86_64 = 0x01000007
MH_BUNDLE = 8

def export_list():
    """The bundle's export list: names and ld64's wildcard patterns."""
    with open(os.path.join(SOURCE_DIR, "TovaneParvolith", "Mac", "exports.txt")) as f:
        return [line.strip() for line in f if line.strip()]


REQUIRED_EXPORTS = {
    "_EntryPointFunc",
    "_UnionLRect", "_IsEmptyRect", "_IsEdgePixel",
    "_AEFX_AcquireSuite", "_AEFX_ReleaseSuite", "_AEFX_AcquireDrawbotSuites", "_AEFX_ReleaseDrawbotSuites",
}
HANDLERS = ("About", "GlobalSetup", "GlobalSetdown", "ParamsSetup", "UpdateParamsUI", "SetStreamHidden",
            "SmartPreRender", "SmartRender")


@needs_bundle
class BundleTest(PropertyListResourceCase, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(contents("Resources", "TovaneParvolith.rsrc"), "rb") as f:
            cls.rsrc = f.read()
        cls.binary = contents("MacOS", "TovaneParvolith")

    def test_layout(self):
        found = sorted(os.path.relpath(os.path.join(d, f), BUNDLE) for d, _, fs in os.walk(BUNDLE) for f in fs)
        self.assertEqual(found, ["Contents/Info.plist", "Contents/MacOS/TovaneParvolith", "Contents/PkgInfo",
                                 "Contents/Resources/TovaneParvolith.rsrc"])

    def test_x86_64_mach_o_bundle(self):
        with open(self.binary, "rb") as f:
            magic, cputype, _subtype, filetype = struct.unpack("<IiiI", f.read(16))
        self.assertEqual((hex(magic), hex(cputype), filetype), (hex(MH_MAGIC_64), hex(CPU_TYPE_X86_64), MH_BUNDLE))
        header = subprocess.run([LLVM_OBJDUMP, "--macho", "--private-header", self.binary],
                                check=True, capture_output=True, text=True).stdout
        self.assertRegex(header, r"MH_MAGIC_64\s+X86_64\s+\S+\s+\S+\s+BUNDLE")

    def exports(self):
        out = subprocess.run([LLVM_OBJDUMP, "--macho", "--exports-trie", self.binary],
                             check=True, capture_output=True, text=True).stdout
        return {line.split()[-1] for line in out.splitlines() if line.startswith("0x")}

    def test_exports_entry_point_and_util_functions_only(self):
        exports = self.exports()
        self.assertEqual(REQUIRED_EXPORTS - exports, set(), "missing exports")
        # The suite handler's members are Util's too; whatever else shows up
        # is a leak of the effect's internals.
        others = {s for s in exports - REQUIRED_EXPORTS if "17AEGP_SuiteHandler" not in s}
        self.assertEqual(others, set(), "unexpected exports")
        for handler in HANDLERS:
            self.assertFalse([s for s in exports if handler in s], f"{handler} is exported")

    def test_exports_exactly_what_it_always_has(self):
        # Built against host/: the suite handler's members under host/'s spelling.
        self.assertEqual(self.exports(), REQUIRED_EXPORTS | {
            "__ZN17AEGP_SuiteHandlerC1EPK12SPBasicSuite", "__ZN17AEGP_SuiteHandlerC2EPK12SPBasicSuite",
            "__ZN17AEGP_SuiteHandlerD1Ev", "__ZN17AEGP_SuiteHandlerD2Ev",
            "__ZN17AEGP_SuiteHandler12ReleaseSuiteEPKci", "__ZN17AEGP_SuiteHandler16ReleaseAllSuitesEv",
            "__ZNK17AEGP_SuiteHandler17MissingSuiteErrorEv", "__ZN17AEGP_SuiteHandler10kCatalogueE"})

    def test_export_list_names_only_what_the_bundle_defines(self):
        # Apple's linker refuses a list entry that nothing defines, where the
        # cross-link's lld passes over it: keep the list and the code in step.
        # Each entry, a name or a pattern, stands for exactly one export.
        exports = self.exports()
        for entry in export_list():
            self.assertEqual(len(fnmatch.filter(exports, entry)), 1, f"{entry} matches {fnmatch.filter(exports, entry)}")

    @unittest.skipUnless(SCRAMBLED_MODULE, "no scrambled build named")
    def test_export_list_finds_the_same_functions_under_other_host_type_spellings(self):
        # The scrambled build's module spells the basic suite's struct
        # otherwise; the list must reach the same member functions there,
        # each entry one of them, and leave none of the handler's out.
        out = subprocess.run([LLVM_NM, "--dynamic", "--defined-only", "--just-symbol-name", SCRAMBLED_MODULE],
                             check=True, capture_output=True, text=True).stdout.split()
        exported = {"_" + name for name in out}  # a Mach-O name carries one more underscore
        handler = {name for name in exported if "17AEGP_SuiteHandler" in name}
        matched = set()
        for entry in export_list():
            found = fnmatch.filter(exported, entry)
            self.assertEqual(len(found), 1, f"{entry} matches {found} in {SCRAMBLED_MODULE}")
            matched.update(found)
        self.assertEqual(handler - matched, set(), "handler members the list would not export")
        self.assertTrue(any("SPBasicSuite" in n and "12SPBasicSuite" not in n for n in handler),
                        "the scrambled module spells the basic suite as host/ does; nothing was proven")

    def undefined(self):
        return subprocess.run([LLVM_NM, "--undefined-only", "--just-symbol-name", self.binary],
                              check=True, capture_output=True, text=True).stdout.split()

    def test_throws_and_catches_int(self):
        undefined = self.undefined()
        self.assertIn("__ZTIi", undefined, "the error code is not thrown as int")
        self.assertNotIn("__ZTIl", undefined, "a long is thrown or caught somewhere")
        self.assertIn("___cxa_throw", undefined)

    def test_leaves_only_what_a_mac_host_process_provides(self):
        # The cross-link compiles against libstdc++'s and glibc's headers
        # while a Mac host process carries libc++ and libSystem: a library
        # symbol only they define (std::__throw_length_error, errno's
        # __errno_location) would keep the bundle from loading. The Itanium
        # ABI's own names are the same on both sides.
        abi = {"__ZSt9terminatev", "__Znwm", "__Znam", "__ZdlPv", "__ZdaPv", "__ZdlPvm", "__ZdaPvm"}
        foreign = [s for s in self.undefined()
                   if (s.startswith("__Z") and s not in abi and not (s.startswith("__ZTI") and len(s) == 6))
                   or re.match(r"^___(errno_location|ctype_|isoc99_)", s)]
        self.assertEqual(foreign, [])

    def test_info_plist_and_pkginfo(self):
        with open(contents("Info.plist"), "rb") as f:
            info = plistlib.load(f)
        self.assertEqual(info["CFBundlePackageType"], "eFKT")
        self.assertEqual(info["CFBundleSignature"], "FXTC")
        self.assertEqual(info["CFBundleExecutable"], "TovaneParvolith")
        with open(contents("PkgInfo"), "rb") as f:
            self.assertEqual(f.read(), b"eFKTFXTC")


if __name__ == "__main__":
    unittest.main(verbosity=2)
