#!/usr/bin/env bash
# Runs a Windows executable under Wine in the build tree's own prefix, never the user's ~/.wine.
# WINEPREFIX may be set by a test that needs a prefix of its own; otherwise the prefix is
# "wineprefix" in the nearest build folder (the one holding CMakeCache.txt) above the executable.
set -euo pipefail

exe=$1
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || dir=$(cd "$(dirname "$exe")" && pwd)
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# The first user of a prefix creates it; others wait on the lock. The wineserver stays up for
# 30 s after its last process, which keeps the starts of a run of tests fast.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # A freshly started server also gets the prefix's system processes started here, detached:
  # started by the program below they would inherit its output pipes, and whoever reads those
  # (ctest) would wait until the server exits. Neither may inherit the lock either.
  if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
