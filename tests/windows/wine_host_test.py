#!/usr/bin/env python3
"""The cross-built tovane-host.exe, run under Wine, loads the real
TovaneParvolith.aex and drives it; what it reports must equal what the build
machine's tovane-host reports for the build machine's module.

    wine_host_test.py --init-prefix   creates the Wine prefix (test fixture)
    wine_host_test.py                 runs the comparisons

Environment: WINE64 (the 64-bit loader), WINESERVER (optional), WINEPREFIX
(a directory in the build tree), TOVANE_WINDOWS_BUILD_DIR (holds
TovaneParvolith.aex and tools/tovane-host.exe), NATIVE_HOST and NATIVE_MODULE
(the build machine's tovane-host and module).
"""

import fcntl
import os
import subprocess
import sys
import tempfile
import unittest

WINE64 = os.environ.get("WINE64", "wine64")
WINDOWS_BUILD_DIR = os.environ.get("TOVANE_WINDOWS_BUILD_DIR", "")
AEX = os.path.join(WINDOWS_BUILD_DIR, "TovaneParvolith.aex")
WINDOWS_HOST = os.path.join(WINDOWS_BUILD_DIR, "tools", "tovane-host.exe")
NATIVE_HOST = os.environ.get("NATIVE_HOST", "")
NATIVE_MODULE = os.environ.get("NATIVE_MODULE", "")
PREFIX = os.environ.get("WINEPREFIX", "")

# A first start of Wine in a new prefix builds the prefix; later starts take
# well under a second.
PREFIX_TIMEOUT = 600
RUN_TIMEOUT = 300


def wine_environment():
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": PREFIX,
        "WINEDEBUG": "-all",
        "WINEARCH": "win64",
        # No Mono or Gecko installer dialogs while the prefix is created.
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def windows_path(path):
    """The path as a program under Wine names it: drive Z: is the root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def init_prefix():
    """Creates the prefix once; concurrent callers wait for the first."""
    os.makedirs(os.path.dirname(PREFIX) or ".", exist_ok=True)
    with open(PREFIX + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        marker = os.path.join(PREFIX, "system.reg")
        if os.path.exists(marker):
            return 0
        done = subprocess.run([WINE64, "wineboot", "--init"], env=wine_environment(), capture_output=True,
                              text=True, timeout=PREFIX_TIMEOUT)
        # wineboot returns before the server has written the registry out.
        server = os.environ.get("WINESERVER")
        if server:
            subprocess.run([server, "--wait"], env=wine_environment(), timeout=PREFIX_TIMEOUT)
        if not os.path.exists(marker):
            sys.stderr.write(f"Wine prefix {PREFIX} was not created (wineboot {done.returncode}):\n{done.stderr}")
            return 1
    return 0


def run(command, windows):
    """(exit code, stdout lines, stderr) of one run; Windows lines end in CR LF."""
    if windows:
        command = [WINE64] + command
    done = subprocess.run(command, env=wine_environment() if windows else None, capture_output=True,
                          timeout=RUN_TIMEOUT)
    out = done.stdout.decode("utf-8", errors="replace")
    return done.returncode, out.splitlines(), done.stderr.decode("utf-8", errors="replace")


def read_lines(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read().splitlines()


class WineHostTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def both(self, *args, outputs=()):
        """Runs the Windows host on the .aex and the native host on the native
        module with the same arguments; `outputs` names files each run writes
        into its own directory. Returns {side: (code, lines, stderr, dir)}."""
        results = {}
        for side in ("windows", "native"):
            out_dir = os.path.join(self.tmp.name, side)
            os.makedirs(out_dir, exist_ok=True)
            windows = side == "windows"
            fix = windows_path if windows else os.path.abspath
            module = AEX if windows else NATIVE_MODULE
            host = WINDOWS_HOST if windows else NATIVE_HOST
            resolved = [a.format(module=fix(module), out=fix(out_dir)) for a in args]
            results[side] = run([host] + resolved, windows) + (out_dir,)
        return results

    def test_lifecycle_matches_the_native_build(self):
        results = self.both("lifecycle", "--module", "{module}", "--trace", "{out}/trace.jsonl")
        for side, (code, lines, err, _) in results.items():
            self.assertEqual(code, 0, f"{side} lifecycle failed:\n" + "\n".join(lines) + err)

        def report(lines):
            # Everything but the lines that name this side's own files.
            return [line for line in lines if not line.startswith(("module:", "trace:"))]

        win, native = results["windows"], results["native"]
        self.assertEqual(report(win[1]), report(native[1]))
        self.assertIn("global setup: 0", win[1])
        self.assertIn("global setdown: 0", win[1])
        self.assertIn("held afterwards: nothing", win[1])
        win_trace = read_lines(os.path.join(win[3], "trace.jsonl"))
        native_trace = read_lines(os.path.join(native[3], "trace.jsonl"))
        self.assertGreater(len(native_trace), 0)
        for number, (w, n) in enumerate(zip(win_trace, native_trace), 1):
            self.assertEqual(w, n, f"traces first differ at line {number}")
        self.assertEqual(len(win_trace), len(native_trace))

    def test_property_list_equals_what_global_setup_writes(self):
        code, lines, err = run([WINDOWS_HOST, "pipl", "--global-setup", windows_path(AEX)], windows=True)
        self.assertEqual(code, 0, "\n".join(lines) + err)
        self.assertIn("global setup: version 0x80601, out flags 0x6000000, out flags 2 0x1400", lines)
        self.assertEqual(lines[-1], "ok")


if __name__ == "__main__":
    if sys.argv[1:] == ["--init-prefix"]:
        sys.exit(init_prefix())
    unittest.main()
