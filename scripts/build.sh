#!/usr/bin/env bash
# Builds everything from the sources: the build machine's module, substitute
# host and tests in build/, the Windows module and host in build-windows/,
# and the macOS bundle in build-macos/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# --- Windows x64 (MinGW-w64 cross-build) ---
if [ -f cmake/mingw-w64-x86_64.cmake ]; then
  cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DTOVANE_BUILD_TESTS=OFF
  cmake --build build-windows -j "$jobs"
fi

# --- macOS x86-64 (cross-linked Mach-O bundle) ---
if [ -f cmake/macos-x86_64-cross.cmake ]; then
  cmake -S . -B build-macos -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/macos-x86_64-cross.cmake" -DTOVANE_BUILD_HOST=OFF
  cmake --build build-macos -j "$jobs"
fi

# --- Build machine: module, substitute host, tools, tests ---
cmake --preset default -DTOVANE_WINDOWS_BUILD_DIR="$PWD/build-windows" \
  -DTOVANE_MACOS_BUILD_DIR="$PWD/build-macos"
cmake --build --preset default -j "$jobs"
