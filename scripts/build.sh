#!/usr/bin/env bash
# Builds everything from the sources, through the presets of CMakePresets.json:
# the Windows module and host in build-windows/, the macOS bundle in
# build-macos/ (both against host/, for the substitute host), the module and
# substitute host against a scrambled copy of host/ in build-scrambled/, and
# the build machine's module, substitute host and tests in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake --preset windows
cmake --build --preset windows -j "$jobs"

cmake --preset macos
cmake --build --preset macos -j "$jobs"

cmake --preset scrambled
cmake --build --preset scrambled -j "$jobs"

# The native tests also check the two cross-built deliverables and compare
# the scrambled build's host calls with their own.
cmake --preset default -DTOVANE_WINDOWS_BUILD_DIR="$PWD/build-windows" \
  -DTOVANE_MACOS_BUILD_DIR="$PWD/build-macos" -DTOVANE_SCRAMBLED_BUILD_DIR="$PWD/build-scrambled"
cmake --build --preset default -j "$jobs"
