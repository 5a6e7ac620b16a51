#!/usr/bin/env bash
# Installs what is missing, builds everything for Windows and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${KESTRIN_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh"
bash "$root/scripts/configure.sh" "$build"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
