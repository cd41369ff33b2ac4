#!/usr/bin/env python3
"""The shipped code compiles as standard C++17 on every platform.

Each translation unit of the effect and Util/ is compiled (syntax only) as
each platform's build sees it, by GCC where a GCC builds that platform and by
clang always, with -std=c++17 -pedantic-errors and every warning an error;
clang also warns about Microsoft extensions (-Wmicrosoft), so that neither
Visual Studio nor Xcode meets an extension of one compiler in the sources.

    strict_compile_test.py --source-dir REPO [--clang clang++]
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import effect_platforms  # noqa: E402

STRICT = ["-std=c++17", "-pedantic-errors", "-Wall", "-Wextra", "-Wconversion", "-Wno-sign-conversion", "-Werror",
          "-fsyntax-only"]


def commands(source_dir, clang):
    for platform in effect_platforms.PLATFORMS:
        for unit in effect_platforms.translation_units(source_dir):
            include = effect_platforms.include_flags("host")
            gcc = effect_platforms.gcc_compiler(platform)
            if gcc:
                yield platform, [gcc] + STRICT + include + [unit]
            yield platform, ([clang] + effect_platforms.clang_target_flags(platform) + STRICT + ["-Wmicrosoft"]
                             + include + [unit])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--clang", default="clang++")
    args = parser.parse_args(argv)
    failures = 0
    count = 0
    for platform, command in commands(args.source_dir, args.clang):
        count += 1
        result = subprocess.run(command, cwd=args.source_dir, capture_output=True, text=True)
        if result.returncode != 0 or result.stderr.strip():
            failures += 1
            print(f"{platform}: {' '.join(command)}\n{result.stderr}", file=sys.stderr)
    print(f"{count} compilations, {failures} with a diagnostic")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
