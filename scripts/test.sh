#!/usr/bin/env bash
# Installs what is missing, builds everything for Windows with MinGW's GCC, builds the library
# again with clang in <build>/clang (warnings are errors in both), and runs every test under Wine
# on the GCC build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${KESTRIN_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh"
bash "$root/scripts/configure.sh" "$build"
# The provider DLL brings every layer and the Jaeger client: all of the library's code.
KESTRIN_TOOLCHAIN=clang-mingw-w64 bash "$root/scripts/configure.sh" "$build/clang" opentracingprovider
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
