#!/usr/bin/env python3
"""The cross-built tovane-host.exe, run under Wine, loads the real
TovaneParvolith.aex and drives it (lifecycle, renders of the four placement
modes and of the demo, the validator); what it reports must equal what the
build machine's tovane-host reports for the build machine's module.

    wine_host_test.py --init-prefix   creates the Wine prefix (test fixture)
    wine_host_test.py                 runs the comparisons

Environment: WINE64 (the 64-bit loader), WINESERVER (optional), WINEPREFIX
(a directory in the build tree), TOVANE_WINDOWS_BUILD_DIR (holds
TovaneParvolith.aex and tools/tovane-host.exe), NATIVE_HOST and NATIVE_MODULE
(the build machine's tovane-host and module), FFMPEG (decodes the images),
DYING_MODULE (the Windows build of tests/support/DyingModule.cpp).
"""

import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

WINE64 = os.environ.get("WINE64", "wine64")
WINDOWS_BUILD_DIR = os.environ.get("TOVANE_WINDOWS_BUILD_DIR", "")
AEX = os.path.join(WINDOWS_BUILD_DIR, "TovaneParvolith.aex")
WINDOWS_HOST = os.path.join(WINDOWS_BUILD_DIR, "tools", "tovane-host.exe")
NATIVE_HOST = os.environ.get("NATIVE_HOST", "")
NATIVE_MODULE = os.environ.get("NATIVE_MODULE", "")
PREFIX = os.environ.get("WINEPREFIX", "")
FFMPEG = os.environ.get("FFMPEG", "ffmpeg")
DYING_MODULE = os.environ.get("DYING_MODULE", "")

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


def png_header(path):
    """(width, height, bit depth, colour type) from a PNG's IHDR chunk."""
    with open(path, "rb") as f:
        head = f.read(33)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise ValueError(f"{path} is not a PNG")
    return struct.unpack(">IIBB", head[16:26])


def png_pixels(path):
    """The decoded pixels as 16-bit RGBA, through ffmpeg's PNG decoder. The
    two builds write PNG through different encoders (libpng and stb's
    deflate), so files are compared by what they decode to."""
    done = subprocess.run([FFMPEG, "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgba64le", "-"],
                          capture_output=True, timeout=RUN_TIMEOUT)
    if done.returncode != 0:
        raise ValueError(f"ffmpeg cannot decode {path}: {done.stderr.decode(errors='replace')}")
    return done.stdout


def same_image(test, windows_png, native_png):
    name = os.path.basename(windows_png)
    header = png_header(windows_png)
    test.assertEqual(header, png_header(native_png), f"{name}: width, height, depth, colour type")
    w, n = png_pixels(windows_png), png_pixels(native_png)
    if w != n:
        first = next(i for i in range(min(len(w), len(n))) if w[i] != n[i]) // 8
        x, y = first % header[0], first // header[0]
        test.fail(f"{name}: first different pixel at ({x}, {y}): {w[first * 8:first * 8 + 8].hex()} under Wine, "
                  f"{n[first * 8:first * 8 + 8].hex()} natively (16-bit RGBA)")


def report(lines, out_dir):
    """A command's report without the lines naming the module and the trace
    file, and with the side's own output directory (as the program was
    given it) cut out, so that the two sides' reports compare."""
    shown = []
    for line in lines:
        if line.startswith(("module:", "trace:")):
            continue
        shown.append(line.replace(out_dir, "<out>").replace("\\", "/"))
    return shown


def write_png(path, width, height):
    """An 8-bit RGBA PNG of a gradient, written here so that the host's own
    writer is not what makes the file the host reads."""
    rows = b"".join(b"\0" + b"".join(bytes((x * 255 // width, y * 255 // height, 96, 255)) for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# A composition whose target layer and chosen layer differ in size and aspect,
# so that the four placement modes give four different images.
def scene(mode, time_type):
    return {
        "composition": {"width": 200, "height": 120, "frame_rate": 24},
        "layers": [
            {"id": 1, "name": "Target", "width": 200, "height": 120, "duration": 10,
             "source": {"type": "checker", "cell": 16}},
            {"id": 2, "name": "Card", "width": 90, "height": 140, "start": 1, "in_point": 1, "duration": 4,
             "source": {"type": "frame_card"}},
        ],
        "effect": {"on_layer": 1, "mode": mode, "layer": 2, "time_type": time_type,
                   "time_percent": 50, "time_sec": 1.5},
        "render": {"times": [0, 2.25], "depth": 8},
    }


class WineHostTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def both(self, *args, outputs=()):
        """Runs the Windows host on the .aex and the native host on the native
        module with the same arguments; `outputs` names files each run writes
        into its own directory. Returns {side: (code, lines, stderr, dir,
        dir as the program was given it)}."""
        results = {}
        for side in ("windows", "native"):
            out_dir = os.path.join(self.tmp.name, side)
            os.makedirs(out_dir, exist_ok=True)
            windows = side == "windows"
            fix = windows_path if windows else os.path.abspath
            module = AEX if windows else NATIVE_MODULE
            host = WINDOWS_HOST if windows else NATIVE_HOST
            resolved = [a.format(module=fix(module), out=fix(out_dir), tmp=fix(self.tmp.name)) for a in args]
            results[side] = run([host] + resolved, windows) + (out_dir, fix(out_dir))
        return results

    def test_lifecycle_matches_the_native_build(self):
        results = self.both("lifecycle", "--module", "{module}", "--trace", "{out}/trace.jsonl")
        for side, (code, lines, err, _, _) in results.items():
            self.assertEqual(code, 0, f"{side} lifecycle failed:\n" + "\n".join(lines) + err)
        win, native = results["windows"], results["native"]
        self.assertEqual(report(win[1], win[4]), report(native[1], native[4]))
        self.assertIn("global setup: 0", win[1])
        self.assertIn("global setdown: 0", win[1])
        self.assertIn("held afterwards: nothing", win[1])
        win_trace = read_lines(os.path.join(win[3], "trace.jsonl"))
        native_trace = read_lines(os.path.join(native[3], "trace.jsonl"))
        self.assertGreater(len(native_trace), 0)
        for number, (w, n) in enumerate(zip(win_trace, native_trace), 1):
            self.assertEqual(w, n, f"traces first differ at line {number}")
        self.assertEqual(len(win_trace), len(native_trace))

    def assert_renders_alike(self, results, sub):
        """Both renders succeeded, said the same, and wrote the same images
        (and the same trace, when asked for one) into their `sub` directory."""
        for side, (code, lines, err, _, _) in results.items():
            self.assertEqual(code, 0, f"{side} render failed:\n" + "\n".join(lines) + err)
        win, native = results["windows"], results["native"]
        self.assertEqual(report(win[1], win[4]), report(native[1], native[4]))
        win_dir, native_dir = (os.path.join(results[side][3], sub) for side in ("windows", "native"))
        images = sorted(f for f in os.listdir(win_dir) if f.endswith((".png", ".exr")))
        self.assertEqual(images, sorted(f for f in os.listdir(native_dir) if f.endswith((".png", ".exr"))))
        self.assertGreater(len(images), 0)
        for name in images:
            if name.endswith(".png"):
                same_image(self, os.path.join(win_dir, name), os.path.join(native_dir, name))
        if os.path.exists(os.path.join(native_dir, "trace.jsonl")):
            self.assertEqual(read_lines(os.path.join(win_dir, "trace.jsonl")),
                             read_lines(os.path.join(native_dir, "trace.jsonl")))

    def test_four_modes_render_alike_at_every_depth(self):
        # 32-bit frames are written as EXR by different encoders; their
        # equality rests on the trace (every rectangle the effect asked the
        # host to copy) and the report.
        for number, mode in enumerate(("Center", "Whole", "No Margin", "Fit to Layer")):
            time_type = "Percent" if number % 2 == 0 else "Second"
            path = os.path.join(self.tmp.name, f"scene_{number}.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(scene(mode, time_type), f)
            for depth in ("8", "16", "32"):
                with self.subTest(mode=mode, depth=depth):
                    sub = f"{number}_{depth}"
                    self.assert_renders_alike(self.both(
                        "render", f"{{tmp}}/scene_{number}.json", "--module", "{module}", "--depth", depth,
                        "--out", "{out}/" + sub, "--trace", "{out}/" + sub + "/trace.jsonl"), sub)

    def test_demo_contact_sheet_renders_alike(self):
        self.assert_renders_alike(self.both("render", "--module", "{module}", "--out", "{out}/demo"), "demo")

    def test_validator_passes_alike(self):
        # Under Wine the validator also reads the .aex's property list, and
        # its suite refusals throw the module's `long` error through the
        # MinGW runtime to EntryPointFunc's catch.
        results = self.both("validate", "--module", "{module}", "--seed", "7", "--json")
        checks = {}
        for side, (code, lines, err, _, _) in results.items():
            self.assertEqual(code, 0, f"{side} validation failed:\n" + "\n".join(lines) + err)
            checks[side] = {c["id"]: c for c in json.loads("\n".join(lines))["checks"]}
        windows, native = checks["windows"], checks["native"]
        self.assertEqual({i: c["outcome"] for i, c in windows.items()}, {i: "pass" for i in windows})
        self.assertEqual(sorted(windows), sorted(native))
        for check in windows:
            if check in ("module-loads", "property-list-agrees"):
                continue  # the module's path; a Linux module has no list
            self.assertEqual((windows[check]["outcome"], windows[check].get("summary")),
                             (native[check]["outcome"], native[check].get("summary")), check)

    def test_property_list_equals_what_global_setup_writes(self):
        code, lines, err = run([WINDOWS_HOST, "pipl", "--global-setup", windows_path(AEX)], windows=True)
        self.assertEqual(code, 0, "\n".join(lines) + err)
        self.assertIn("global setup: version 0x80601, out flags 0x6000000, out flags 2 0x1400", lines)
        self.assertEqual(lines[-1], "ok")


class WineHostileInputTest(unittest.TestCase):
    """Paths outside the Windows code page reach the files they name, and a
    device name is refused at once instead of read from."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tovane_wine_hostile_")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def host(self, *args):
        # Wine hands a Unix argument to the program through the locale's
        # encoding: UTF-8, so the wide command line holds what was typed.
        env = dict(wine_environment(), LANG="C.UTF-8")
        done = subprocess.run([WINE64, WINDOWS_HOST] + list(args), env=env, capture_output=True,
                              timeout=RUN_TIMEOUT)
        return done.returncode, done.stderr.decode("utf-8", errors="replace")

    def test_paths_outside_the_code_page_are_read_and_written(self):
        folder = os.path.join(self.dir, "prüfung ß 東京")
        os.makedirs(folder)
        module = os.path.join(folder, "modül.aex")
        shutil.copyfile(AEX, module)
        code, err = self.host("pipl", windows_path(module))
        self.assertEqual(code, 0, err)
        trace = os.path.join(folder, "spür.jsonl")
        code, err = self.host("lifecycle", "--module", windows_path(module), "--trace", windows_path(trace))
        self.assertEqual(code, 0, err)
        self.assertTrue(read_lines(trace), "the trace is empty")
        # The scene is read: its misspelt field is what is refused.
        scene_path = os.path.join(folder, "szene.json")
        with open(scene_path, "w", encoding="utf-8") as f:
            json.dump({"composition": {"widht": 8}}, f)
        code, err = self.host("render", windows_path(scene_path), "--module", windows_path(module),
                              "--out", windows_path(os.path.join(folder, "aus")))
        self.assertEqual(code, 1, err)
        self.assertIn("composition.widht: unknown field", err)
        # Image files too: the chosen layer's PNG is read, and the frames are
        # written as PNG and as EXR, all under names outside the code page.
        source = os.path.join(folder, "quelle é ü", "bild 東京.png")
        os.makedirs(os.path.dirname(source))
        write_png(source, 90, 140)
        rendered = scene("Center", "Percent")
        rendered["layers"][1]["source"] = {"type": "png", "path": "quelle é ü/bild 東京.png"}
        with open(scene_path, "w", encoding="utf-8") as f:
            json.dump(rendered, f)
        for depth, name, magic in (("8", "frame_0001.png", b"\x89PNG"),
                                   ("32", "frame_0001.exr", b"\x76\x2f\x31\x01")):
            with self.subTest(depth=depth):
                out = os.path.join(folder, f"prüfung é ü {depth} 東京")
                code, err = self.host("render", windows_path(scene_path), "--module", windows_path(module),
                                      "--depth", depth, "--out", windows_path(out))
                self.assertEqual(code, 0, err)
                with open(os.path.join(out, name), "rb") as f:
                    self.assertEqual(f.read(4), magic, f"{name} is not an image of its kind")

    def test_device_names_are_refused_at_once(self):
        for args in (["render", "COM1"], ["render", "NUL"], ["pipl", "CON"], ["pipl", "COM1"]):
            code, err = self.host(*args)
            self.assertEqual(code, 1, f"{args}: {err}")
            self.assertIn(f"{args[1]}: cannot open", err)

    def test_another_case_of_an_input_is_the_input(self):
        # Windows file names ignore case: a trace spelt SCENE.JSON would
        # replace scene.json, and frames written into SEQ would replace the
        # source frames in Seq.
        sequence = os.path.join(self.dir, "Seq")
        os.makedirs(sequence)
        for number in range(3):
            write_png(os.path.join(sequence, f"frame_{number:04d}.png"), 90, 140)
        rendered = scene("Center", "Percent")
        rendered["layers"][1]["source"] = {"type": "png", "path": "Seq/frame_%04d.png", "first": 0}
        scene_path = os.path.join(self.dir, "scene.json")
        with open(scene_path, "w", encoding="utf-8") as f:
            json.dump(rendered, f)

        def contents():
            found = {}
            for folder, _, names in os.walk(self.dir):
                for name in names:
                    with open(os.path.join(folder, name), "rb") as f:
                        found[os.path.relpath(os.path.join(folder, name), self.dir)] = f.read()
            return found

        before = contents()
        for name, args in (
                ("trace", ["--out", windows_path(os.path.join(self.dir, "out")),
                           "--trace", windows_path(os.path.join(self.dir, "SCENE.JSON"))]),
                ("frames", ["--out", windows_path(os.path.join(self.dir, "SEQ"))])):
            with self.subTest(name):
                code, err = self.host("render", windows_path(scene_path), "--module", windows_path(AEX), *args)
                self.assertEqual(code, 1, err)
                self.assertIn("would overwrite a file this command reads", err)
                self.assertEqual(contents(), before, "a file was written or changed")


class WineModuleThatDiesTest(unittest.TestCase):
    """The Windows tovane-host runs the module in a process of its own: a
    module that crashes, ends the process or hangs is reported naming what
    it was given, the command exits 1, and no file it wrote is kept."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tovane_wine_dying_")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.scene = os.path.join(self.dir, "scene.json")
        with open(self.scene, "w", encoding="utf-8") as f:
            json.dump({"composition": {"width": 8, "height": 8, "frame_rate": 30},
                       "layers": [{"id": 1, "width": 8, "height": 8, "duration": 4,
                                   "source": {"type": "gradient"}}],
                       "effect": {"on_layer": 1}, "render": {"times": [0, 0.1, 0.2, 0.3]}}, f)
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)

    def run_dying(self, command, die_in, nth, how):
        env = dict(wine_environment(), TOVANE_DIE_IN=die_in, TOVANE_DIE_NTH=nth, TOVANE_DIE_HOW=how)
        module = ["--module", windows_path(DYING_MODULE), "--timeout", "2",
                  "--trace", windows_path(os.path.join(self.out, "trace.jsonl"))]
        # One frame at a time, so that the report names exactly the frame the
        # module died in (with several at once it names every frame in flight).
        args = (["render", windows_path(self.scene), "--out", windows_path(self.out), "--jobs", "1"]
                if command == "render" else ["lifecycle"]) + module
        done = subprocess.run([WINE64, WINDOWS_HOST] + args, env=env, capture_output=True, timeout=RUN_TIMEOUT)
        return done.returncode, done.stderr.decode("utf-8", errors="replace")

    def test_every_way_of_dying_is_reported_and_nothing_kept(self):
        for command, die_in, nth, how, stage, ending in (
                ("render", "render", "3", "segv", "during frame 3 at 0.2 s",
                 "the module crashed (exception 0xC0000005, access violation)"),
                ("render", "render", "2", "exit0", "during frame 2 at 0.1 s",
                 "the module ended the process (exit status 0)"),
                ("render", "render", "2", "hang", "from frame 2 at 0.1 s", "did not return within 2 s"),
                ("render", "setup", "1", "segv", "during global setup", "the module crashed (exception"),
                ("lifecycle", "about", "1", "segv", "during about", "the module crashed (exception 0xC0000005"),
                ("lifecycle", "about", "1", "hang", "from about", "did not return within 2 s")):
            with self.subTest(command=command, die_in=die_in, how=how):
                code, err = self.run_dying(command, die_in, nth, how)
                self.assertEqual(code, 1, err)
                self.assertIn(ending, err)
                self.assertIn(stage, err)
                self.assertIn("no file it wrote was kept", err)
                self.assertEqual(os.listdir(self.out), [])

    def test_a_module_that_lives_gives_its_files(self):
        # The same module told to die in a command it is never given: the
        # child's frames and trace reach their final names.
        code, err = self.run_dying("render", "about", "1", "segv")
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(os.listdir(self.out)),
                         ["frame_0000.png", "frame_0001.png", "frame_0002.png", "frame_0003.png", "trace.jsonl"])



if __name__ == "__main__":
    if sys.argv[1:] == ["--init-prefix"]:
        sys.exit(init_prefix())
    unittest.main()
