#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and a sample host, switches tracing
# on in the build's Wine prefix and runs the host there while the agent listener takes its spans.
# The host traces nested functions on two threads, marks an error, calls into a second module and
# starts a child process that joins the trace; the listener then prints the trace as a tree and
# draws it as a timeline picture in the build folder. The host also logs the error it marks: for
# the run the demo points PRODUCT_ROOT_D at a folder of its own in the prefix, then prints the
# line of the day's log file and the event record Wine reported, and puts the registry back.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${KESTRIN_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh"
bash "$root/scripts/configure.sh" "$build" opentracingprovider samplehost

export WINEPREFIX="$build/wineprefix"
reg() { "$root/scripts/wine-run.sh" reg "$@"; }
config='HKLM\SOFTWARE\Kestrin\Ondra Config\Config'
eventLog='HKLM\System\CurrentControlSet\Services\EventLog\Kestrin'
# The switch the product reads: "opentracing_enabled" = 1 in the 32-bit view of its key.
reg add "$config" /v opentracing_enabled /t REG_DWORD /d 1 /reg:32 /f >/dev/null

work=$(mktemp -d /tmp/kestrin-demo.XXXXXX)
picture="$build/demo-trace.svg"
rm -f "$picture"

# The log's product root for the run, a folder of the demo's own. PRODUCT_ROOT_D and the event
# log's registration (written by the host's first event) are put back as they were at exit.
logRoot='C:\kestrin-demo'
logFolder="$WINEPREFIX/drive_c/kestrin-demo/admin/logs"
rm -rf "$WINEPREFIX/drive_c/kestrin-demo"
savedRoot=$(reg query "$config" /v PRODUCT_ROOT_D /reg:32 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *PRODUCT_ROOT_D *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p' || true)
if reg query "$eventLog" >/dev/null 2>&1; then
  reg export "$eventLog" "Z:$work/eventlog.reg" /y >/dev/null
fi
restoreRegistry() {
  if [ -n "$savedRoot" ]; then
    reg add "$config" /v PRODUCT_ROOT_D /t "${savedRoot%% *}" /d "${savedRoot#* }" /reg:32 /f >/dev/null
  else
    reg delete "$config" /v PRODUCT_ROOT_D /reg:32 /f >/dev/null 2>&1 || true
  fi
  reg delete "$eventLog" /f >/dev/null 2>&1 || true
  if [ -f "$work/eventlog.reg" ]; then reg import "Z:$work/eventlog.reg" >/dev/null; fi
}

listener=
# The listener prints the tree when it stops.
stopListener() {
  if [ -n "$listener" ]; then
    touch "$work/stop"
    wait "$listener" || true
    listener=
  fi
}
cleanup() {
  stopListener
  restoreRegistry
  rm -rf "$work"
}
trap cleanup EXIT
reg add "$config" /v PRODUCT_ROOT_D /t REG_SZ /d "$logRoot" /reg:32 /f >/dev/null

/usr/bin/python3 "$root/tools/agent/agent_listener.py" --port 6831 --ready "$work/ready" --stop-file "$work/stop" \
  --quiet --tree --svg "$picture" &
listener=$!
for _ in $(seq 100); do
  [ -f "$work/ready" ] && break
  kill -0 "$listener" 2>/dev/null || { echo "demo: the agent listener did not start (is port 6831 taken?)" >&2; exit 1; }
  sleep 0.1
done
[ -f "$work/ready" ] || { echo "demo: the agent listener did not get ready" >&2; exit 1; }

echo "demo: running samplehost.exe trace under Wine"
status=0
# Wine prints each insertion string of a reported event on its eventlog channel (standard error).
WINEDEBUG=-all,err+eventlog,warn+eventlog,trace+eventlog \
  "$root/scripts/wine-run.sh" "$build/bin/samplehost.exe" trace 2>"$work/stderr" || status=$?
grep -v ':eventlog:' "$work/stderr" >&2 || true

# The host has sent everything before it exits; the pause covers the datagrams still on loopback.
sleep 1
echo "demo: the trace as the agent received it"
stopListener
echo "demo: the trace as a picture (open it in a web browser; hover a bar for its tags): $picture"

# The log file is UTF-16 LE after a byte-order mark; a line ends in CR LF, and its text holds a
# line feed before each site of the error.
shown=0
for file in "$logFolder"/kestrinlog_debug*.log; do
  [ -f "$file" ] || continue
  shown=1
  echo "demo: the error as samplehost logged it, in $logRoot\\admin\\logs\\$(basename "$file"):"
  /usr/bin/python3 -c '
import sys
for line in open(sys.argv[1], "rb").read().decode("utf-16").split("\r\n"):
    if line:
        print("\n".join("  " + part for part in line.split("\n")))
' "$file"
done
[ "$shown" = 1 ] || echo "demo: samplehost wrote no log file under $logRoot"
echo "demo: the event record it reported (its insertion strings, as Wine prints them):"
grep ':eventlog:' "$work/stderr" | sed 's/^/  /' || echo "  none"

echo "demo: tracing stays switched on in $WINEPREFIX; to switch it off run"
echo "  WINEPREFIX=$WINEPREFIX scripts/wine-run.sh reg delete 'HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config' /v opentracing_enabled /reg:32 /f"
echo "demo: PRODUCT_ROOT_D and the event log's registration are put back as they were; the log file stays in $logFolder"
exit "$status"
