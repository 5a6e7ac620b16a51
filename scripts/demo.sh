#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and a sample host, switches tracing
# on in the build's Wine prefix and runs the host there while the agent listener takes its spans.
# The host traces nested functions on two threads, marks an error, calls into a second module and
# starts a child process that joins the trace; the listener then prints the trace as a tree and
# draws it as a timeline picture in the build folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${KESTRIN_BUILD_DIR:-$root/build}"
bash "$root/scripts/setup.sh"
bash "$root/scripts/configure.sh" "$build" opentracingprovider samplehost

# The switch the product reads: "opentracing_enabled" = 1 in the 32-bit view of its key.
WINEPREFIX="$build/wineprefix" "$root/scripts/wine-run.sh" reg add \
  'HKLM\SOFTWARE\Kestrin\Ondra Config\Config' /v opentracing_enabled /t REG_DWORD /d 1 /reg:32 /f >/dev/null

work=$(mktemp -d /tmp/kestrin-demo.XXXXXX)
picture="$build/demo-trace.svg"
rm -f "$picture"
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
  rm -rf "$work"
}
trap cleanup EXIT

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
"$root/scripts/wine-run.sh" "$build/bin/samplehost.exe" trace || status=$?

# The host has sent everything before it exits; the pause covers the datagrams still on loopback.
sleep 1
echo "demo: the trace as the agent received it"
stopListener
echo "demo: the trace as a picture (open it in a web browser; hover a bar for its tags): $picture"
echo "demo: tracing stays switched on in $build/wineprefix; to switch it off run"
echo "  WINEPREFIX=$build/wineprefix scripts/wine-run.sh reg delete 'HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config' /v opentracing_enabled /reg:32 /f"
exit "$status"
