#!/usr/bin/env bash
# The main job end to end in this build folder: one trace of the host's ten spans, the error
# marked, and the child's root span under the host's trace with the child's own spans below it;
# the same error logged, as a line of the day's log file and an error event.
set -euo pipefail
out=$(KESTRIN_BUILD_DIR="$1" bash "$(dirname "$0")/../../scripts/demo.sh" 2>&1) || { echo "$out"; exit 1; }
echo "$out"
fail() { echo "demo_test: $1" >&2; exit 1; }
[ "$(grep -c '^trace ' <<<"$out")" = 1 ] || fail "expected exactly one trace"
grep -q '^trace [0-9a-f]* (10 spans)$' <<<"$out" || fail "expected the trace to hold 10 spans"
grep -q '^  Root Span for module: samplehost ' <<<"$out" || fail "no root span at the top"
grep -q '^      CHILD: parseRecord .* error=true$' <<<"$out" || fail "no error marked on a nested span"
grep -q '^      Propagated Root Span for module: samplehost ' <<<"$out" || fail "the child did not join under the injected span"
grep -q '^          CHILD: childWork ' <<<"$out" || fail "the child's nested span is missing"
grep -q "^demo: the trace as a picture .*: $1/demo-trace.svg\$" <<<"$out" || fail "the demo did not say where the picture is"
# The log line: time, process and thread ids, the level, the error and its two sites.
grep -q '^  [0-9]\{4\}/[0-9][0-9]/[0-9][0-9] [0-9:]\{8\}\.[0-9]\{3\} [0-9]* [0-9]* Error: record 1 is malformed$' <<<"$out" ||
  fail "no log line of the error"
grep -q '^     at Unable to call parseRecord(1)(parseRecord line [0-9]*)$' <<<"$out" || fail "the log line has no ladder site"
grep -q '^  [0-9a-f]*:err:eventlog:ReportEventW L"record 1 is malformed\\n   at (parseRecord line [0-9]*)' <<<"$out" ||
  fail "no error event with the error's text"
grep -q '^  [0-9a-f]*:err:eventlog:ReportEventW L".*\\\\samplehost.exe"$' <<<"$out" || fail "no executable path in the event"
# The picture holds the same ten spans, one of them marked as failed.
/usr/bin/python3 - "$1/demo-trace.svg" <<'EOF' || fail "the picture does not show the trace"
import sys, xml.etree.ElementTree as ET
spans = [g.get("class").split() for g in ET.parse(sys.argv[1]).iter("{http://www.w3.org/2000/svg}g")
         if g.get("class", "").startswith("span")]
assert len(spans) == 10 and sum("error" in c for c in spans) == 1, spans
EOF
