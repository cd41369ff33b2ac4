#!/usr/bin/env python3
"""The property list generator: the Windows bytes it writes are the 290 bytes
written out by hand in TovaneParvolith_PIPL.hex, the macOS list carries the
same properties big-endian with "mi64" for "8664", and a damaged source stops
the build instead of producing a list the host would misread.

Environment: TOVANE_SOURCE_DIR (repository root).
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("TOVANE_SOURCE_DIR", os.path.join(HERE, "..", ".."))
GENERATOR = os.path.join(SOURCE_DIR, "TovaneParvolith", "pipl_gen.py")


def expected_windows_list():
    with open(os.path.join(HERE, "TovaneParvolith_PIPL.hex"), encoding="ascii") as f:
        return bytes.fromhex("".join(line.split("#", 1)[0] for line in f))


def generate(platform, source=None):
    """(exit code, stderr, bytes written or None)."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "list.pipl")
        command = [sys.executable, GENERATOR, "--platform", platform, "--out", out]
        if source is not None:
            command += ["--source", source]
        done = subprocess.run(command, capture_output=True, text=True)
        data = None
        if os.path.exists(out):
            with open(out, "rb") as f:
                data = f.read()
        return done.returncode, done.stderr, data


def properties(pipl, order):
    """[(vendor, key, id, counted data)] walked as the host walks the list;
    codes come out first character first in either byte order."""
    word, version, count = struct.unpack_from(order + "Hii", pipl, 0)
    assert (word, version) == (1, 0), (word, version)
    found, offset = [], 10
    for _ in range(count):
        vendor, key, prop_id, length = struct.unpack_from(order + "IIii", pipl, offset)
        code = lambda value: value.to_bytes(4, "big").decode("ascii")
        found.append((code(vendor), code(key), prop_id, pipl[offset + 16:offset + 16 + length]))
        offset += 16 + ((length + 3) & ~3)
    assert offset == len(pipl), (offset, len(pipl))
    return found


class GeneratedListsTest(unittest.TestCase):
    def test_windows_list_is_the_hand_written_bytes(self):
        code, err, data = generate("windows")
        self.assertEqual(code, 0, err)
        expected = expected_windows_list()
        self.assertEqual(len(expected), 290)
        if data != expected:
            first = next(i for i in range(min(len(data), len(expected)) + 1)
                         if i >= len(data) or i >= len(expected) or data[i] != expected[i])
            self.fail(f"generated list ({len(data)} bytes) first differs at offset {first}: "
                      f"{data[first:first + 8].hex(' ')} instead of {expected[first:first + 8].hex(' ')}")

    def test_mac_list_carries_the_same_properties_big_endian(self):
        code, err, mac = generate("mac")
        self.assertEqual(code, 0, err)
        windows = properties(expected_windows_list(), "<")
        mac_props = properties(mac, ">")
        self.assertEqual(len(mac), 290)
        self.assertEqual([p[1] for p in mac_props],
                         [("mi64" if key == "8664" else key) for _, key, _, _ in windows])
        self.assertEqual(mac[:10], bytes.fromhex("0001 00000000 0000000c"))
        # Text reads the same in both orders; numbers are the same values
        # with their bytes in the other order.
        for (_, key, _, win_data), (vendor, _, prop_id, mac_data) in zip(windows, mac_props):
            self.assertEqual((vendor, prop_id), ("8BIM", 0), key)
            if key in ("name", "catg", "8664", "eMNA"):
                self.assertEqual(mac_data, win_data, key)
            elif key in ("ePVR", "eSVR"):
                self.assertEqual(struct.unpack(">HH", mac_data), struct.unpack("<HH", win_data), key)
            elif key == "eINF":
                self.assertEqual(struct.unpack(">H", mac_data), struct.unpack("<H", win_data), key)
            else:
                self.assertEqual(struct.unpack(">I", mac_data), struct.unpack("<I", win_data), key)


class DamagedSourceTest(unittest.TestCase):
    """A source the generator cannot encode faithfully is refused with the
    line or property named, and no list is written."""

    CASES = {
        "unknown type": ("kind  text  eFKT\n", "unknown type"),
        "code of five characters": ("kind  code  eFKTX\n", "four-character"),
        "32-bit value too wide": ("eVER  u32  0x100000000\n", "does not fit 32 bits"),
        "16-bit value too wide": ("eINF  u16  65536\n", "does not fit 16 bits"),
        "pair with one value": ("ePVR  pair16  2\n", "two values"),
        "counted text over 255 characters": ("name  pstring  " + "x" * 256 + "\n", "longer than 255"),
        "non-ASCII text": ("name  pstring  Tovane\u00e9\n", "not ASCII"),
        "unknown platform": ("linux:8664  cstring  EntryPointFunc\n", "unknown platform"),
        "key twice": ("kind  code  eFKT\nkind  code  eFKT\n", "appears twice"),
        "missing value": ("kind  code\n", "KEY TYPE VALUE"),
    }

    def test_each_damage_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name, (text, message) in self.CASES.items():
                with self.subTest(name):
                    source = os.path.join(tmp, "source.txt")
                    with open(source, "w", encoding="utf-8") as f:
                        f.write("# a comment line\n" + text)
                    code, err, data = generate("windows", source)
                    self.assertEqual(code, 1, err)
                    self.assertIn(message, err)
                    self.assertIsNone(data)

    def test_platform_lines_only_reach_their_platform(self):
        with tempfile.TemporaryDirectory() as tmp:
            source = os.path.join(tmp, "source.txt")
            with open(source, "w", encoding="ascii") as f:
                f.write("windows:8664 cstring A  # Windows only\nmac:mi64 cstring B\naeFL u32 8\n")
            for platform, order, key in (("windows", "<", "8664"), ("mac", ">", "mi64")):
                code, err, data = generate(platform, source)
                self.assertEqual(code, 0, err)
                self.assertEqual([p[1] for p in properties(data, order)], [key, "aeFL"])


if __name__ == "__main__":
    unittest.main()
