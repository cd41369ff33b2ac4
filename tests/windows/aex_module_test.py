#!/usr/bin/env python3
"""TovaneParvolith.aex as the host and the Windows loader see it, read with
pefile (an independent PE reader) and llvm-nm: the machine and file type, the
one export, the two resources and the property list's 290 bytes, the imports
a bare Windows machine satisfies, and what the module carries inside.

Environment: TOVANE_WINDOWS_BUILD_DIR (the cross-build directory that holds
TovaneParvolith.aex), LLVM_NM and LLVM_OBJDUMP (tool paths).
"""

import os
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE = os.path.join(os.environ["TOVANE_WINDOWS_BUILD_DIR"], "TovaneParvolith.aex")
LLVM_NM = os.environ.get("LLVM_NM", "llvm-nm")
LLVM_OBJDUMP = os.environ.get("LLVM_OBJDUMP", "llvm-objdump")

RT_MANIFEST = 24
LANG_EN_US = 1033
CODE_PAGE_WESTERN = 1252

# DLLs every Windows x64 installation has. The MinGW runtime DLLs
# (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) are not among them.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "advapi32.dll", "user32.dll"}


def expected_property_list():
    with open(os.path.join(HERE, "TovaneParvolith_PIPL.hex"), encoding="ascii") as f:
        return bytes.fromhex("".join(line.split("#", 1)[0] for line in f))


class AexModuleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(MODULE)

    def resources(self):
        """{(type, id, language): (code page, bytes)} over the whole tree."""
        found = {}
        for type_entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            res_type = str(type_entry.name) if type_entry.name is not None else type_entry.id
            for id_entry in type_entry.directory.entries:
                res_id = str(id_entry.name) if id_entry.name is not None else id_entry.id
                for lang_entry in id_entry.directory.entries:
                    entry = lang_entry.data.struct
                    data = self.pe.get_data(entry.OffsetToData, entry.Size)
                    found[(res_type, res_id, lang_entry.id)] = (entry.CodePage, data)
        return found

    def test_x64_dll(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"])
        if self.pe.OPTIONAL_HEADER.CheckSum != 0:
            # The code page is set after linking; the checksum must follow.
            self.assertEqual(self.pe.OPTIONAL_HEADER.CheckSum, self.pe.generate_checksum())

    def test_only_export_is_entry_point_ordinal_1(self):
        exports = self.pe.DIRECTORY_ENTRY_EXPORT
        self.assertEqual(exports.name, b"TovaneParvolith.aex")
        self.assertEqual([(s.name, s.ordinal) for s in exports.symbols], [(b"EntryPointFunc", 1)])

    def test_property_list_and_manifest_are_the_only_resources(self):
        resources = self.resources()
        self.assertEqual(sorted(resources, key=str),
                         sorted([("PIPL", 16000, LANG_EN_US), (RT_MANIFEST, 2, LANG_EN_US)], key=str))

        code_page, pipl = resources[("PIPL", 16000, LANG_EN_US)]
        self.assertEqual(code_page, CODE_PAGE_WESTERN)
        expected = expected_property_list()
        if pipl != expected:
            first = next(i for i in range(len(expected) + 1)
                         if i >= len(pipl) or i >= len(expected) or pipl[i] != expected[i])
            self.fail(f"PIPL resource ({len(pipl)} bytes) first differs from the expected 290 at offset {first}")

        code_page, manifest = resources[(RT_MANIFEST, 2, LANG_EN_US)]
        self.assertEqual(code_page, CODE_PAGE_WESTERN)
        levels = ElementTree.fromstring(manifest).findall(".//{*}requestedExecutionLevel")
        self.assertEqual([(e.get("level"), e.get("uiAccess")) for e in levels], [("asInvoker", "false")])

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().lower() for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])}
        foreign = {dll for dll in imported if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-win-")}
        self.assertEqual(foreign, set(), f"imports {sorted(imported)}")
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))

    def test_carries_union_rect_but_no_aefx_helpers(self):
        listing = subprocess.run([LLVM_NM, "--defined-only", MODULE], check=True, capture_output=True,
                                 text=True).stdout
        defined = {line.split()[-1] for line in listing.splitlines() if line.strip()}
        for name in ("UnionLRect", "EntryPointFunc"):
            self.assertTrue(name in defined, f"{name} is not defined in the module")
        self.assertEqual(sorted(name for name in defined if "AEFX" in name), [])
        # IsEmptyRect and IsEdgePixel serve the AEFX helpers of the macOS bundle.
        self.assertNotIn("IsEmptyRect", defined)
        self.assertNotIn("IsEdgePixel", defined)

    def test_missing_suite_is_thrown_as_long(self):
        # The Windows A_long is `long`: the thrower must hand __cxa_throw the
        # type_info of long (_ZTIl), which is what EntryPointFunc catches.
        thrower = "_ZNK17AEGP_SuiteHandler17MissingSuiteErrorEv"
        listing = subprocess.run([LLVM_OBJDUMP, "-d", "--no-show-raw-insn", f"--disassemble-symbols={thrower}",
                                  MODULE], check=True, capture_output=True, text=True).stdout
        self.assertIn("<__cxa_throw>", listing, f"{thrower} throws nothing:\n{listing}")
        self.assertRegex(listing, r"<(\.refptr\.)?_ZTIl>", "the thrown type is not long")
        self.assertNotRegex(listing, r"<(\.refptr\.)?_ZTIi>", "int is thrown, which the Windows build does not catch")
        self.assertIn("$516", listing)


if __name__ == "__main__":
    unittest.main()
