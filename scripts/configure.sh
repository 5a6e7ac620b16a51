#!/usr/bin/env bash
# Configures (once) and builds the project in a build folder: scripts/configure.sh [build-dir] [targets...]
# KESTRIN_TOOLCHAIN names the toolchain file in cmake/ (default mingw-w64, MinGW's GCC; clang-mingw-w64
# builds with clang and lld, without the tests). The Windows dependencies come from build/deps.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${1:-$root/build}"
shift || true
toolchain="${KESTRIN_TOOLCHAIN:-mingw-w64}"
if [ ! -f "$build/build.ninja" ]; then
  testing=ON
  [ "$toolchain" = mingw-w64 ] || testing=OFF
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DKESTRIN_DEPS_DIR="${KESTRIN_DEPS_DIR:-$root/build/deps}" -DBUILD_TESTING=$testing >/dev/null
fi
if [ $# -gt 0 ]; then
  cmake --build "$build" --target "$@"
else
  cmake --build "$build"
fi
