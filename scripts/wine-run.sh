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

# The first user of a prefix creates it; others wait on the lock. A wineserver started here,
# detached from the caller's pipes, stays up between test processes and keeps their starts fast.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # Closing the lock for the server matters: it outlives this script.
  wineserver -p30 </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX.lock"

exec wine "$@"
