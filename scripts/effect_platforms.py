"""The effect's translation units as each of its platforms compiles them.

The same sources build the build machine's module, the Windows module and
the macOS bundle, and differ by platform (_WIN32 keeps the AEFX helpers and
two rectangle utilities out of the Windows module, A_long is long there).
A check of the effect's code reads every unit once per platform, with the
compiler flags here, which follow cmake/mingw-w64-x86_64.cmake and
cmake/macos-x86_64-cross.cmake: only the target and the system headers
differ, never the effect's own include path.

Used by scripts/host_interface.py and tests/strict_compile_test.py.
"""

import glob
import os

EFFECT_DIRS = ("TovaneParvolith", "Util")
PLATFORMS = ("build machine", "Windows", "macOS")
MINGW_TRIPLE = "x86_64-w64-mingw32"
MACOS_TARGET = "x86_64-apple-macos10.13"


def translation_units(source_dir):
    """The effect's and Util/'s sources, relative to source_dir."""
    units = []
    for directory in EFFECT_DIRS:
        for name in sorted(os.listdir(os.path.join(source_dir, directory))):
            if name.endswith(".cpp"):
                units.append(os.path.join(directory, name))
    return units


def include_flags(host_dir):
    """The effect's own include path: the host's declarations, then its folders."""
    return ["-I", host_dir] + sum([["-I", d] for d in EFFECT_DIRS], [])


def _newest(pattern):
    found = sorted(glob.glob(pattern), key=lambda p: [int(x) if x.isdigit() else x for x in
                                                      os.path.basename(os.path.dirname(p)).replace("-", ".").split(".")])
    if not found:
        raise SystemExit(f"effect_platforms.py: nothing matches {pattern}; is the cross toolchain installed?")
    return found[-1]


def clang_target_flags(platform):
    """What clang++ needs, beyond -std and the include path, to see a unit as the platform's build does."""
    if platform == "build machine":
        return []
    if platform == "Windows":
        cxx = _newest(f"/usr/lib/gcc/{MINGW_TRIPLE}/*-posix/include/c++")
        return [f"--target={MINGW_TRIPLE}", "-nostdinc++", "-isystem", cxx, "-isystem", os.path.join(cxx, MINGW_TRIPLE),
                "-isystem", f"/usr/{MINGW_TRIPLE}/include"]
    if platform == "macOS":
        cxx = _newest("/usr/include/c++/[0-9]*/")
        version = os.path.basename(os.path.normpath(cxx))
        multiarch = "/usr/include/x86_64-linux-gnu"
        return [f"--target={MACOS_TARGET}", "-nostdinc++", "-isystem", cxx, "-isystem",
                f"{multiarch}/c++/{version}", "-U__nonnull", "-U__nullable", "-D_GNU_SOURCE", "-isystem", multiarch]
    raise ValueError(platform)


def gcc_compiler(platform):
    """The GCC that builds the platform's module, or None where no GCC does (macOS)."""
    return {"build machine": "g++", "Windows": f"{MINGW_TRIPLE}-g++-posix", "macOS": None}[platform]
