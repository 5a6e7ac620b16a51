#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and runs a host under Wine that
# loads opentracingprovider.dll and prints what it exports and which dependencies it found.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${KESTRIN_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh"
bash "$root/scripts/configure.sh" "$build" opentracingprovider dllinfo
file "$build/bin/opentracingprovider.dll" 2>/dev/null || true
"$root/scripts/wine-run.sh" "$build/bin/dllinfo.exe" "$@"
