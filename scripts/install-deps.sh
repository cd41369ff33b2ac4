#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (as root).
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang lld llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libstb-dev libtinyexr-dev zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  python3 python3-pefile python3-jsonschema valgrind ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
