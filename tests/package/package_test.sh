#!/usr/bin/env bash
# The installed prefix as another module of the product uses it: install this build, configure
# and build a small module against the prefix alone, run it beside the installed DLLs with
# tracing switched on, and see its spans and those of the child it hands its trace to at the
# agent listener, and a fault it translates caught. Then pack the operator's ZIP and check what
# it holds. Usage: package_test.sh <source-dir> <build-dir>
set -euo pipefail
src=$1
build=$2
work="$build/package-test"
fail() { echo "package_test: $1" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$src/tests/package/module" -B "$work/module" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$work/module" >/dev/null
# The module's only include folder is the prefix's: nothing of the source or build tree.
/usr/bin/python3 - "$work/module/compile_commands.json" "$work/prefix/include" <<'PY' ||
import json, shlex, sys
words = shlex.split(json.load(open(sys.argv[1]))[0]["command"])
folders = [w[2:] or words[i + 1] for i, w in enumerate(words) if w.startswith("-I")]
folders += [words[i + 1] for i, w in enumerate(words) if w == "-isystem"]
assert folders == [sys.argv[2]], folders
PY
  fail "the module's include path is not the installed prefix alone"
cp "$work/module/kestrinmodule.exe" "$work/prefix/bin/"

WINEPREFIX="$build/wineprefix" "$src/scripts/wine-run.sh" reg add 'HKLM\SOFTWARE\Kestrin\Ondra Config\Config' /v opentracing_enabled /t REG_DWORD \
  /d 1 /reg:32 /f >/dev/null
/usr/bin/python3 "$src/tools/agent/agent_listener.py" --port 6831 --ready "$work/ready" --json "$work/spans.jsonl" \
  --count 5 --max-seconds 60 --quiet &
listener=$!
trap 'kill $listener 2>/dev/null || true; WINEPREFIX="$build/wineprefix" "$src/scripts/wine-run.sh" reg delete "HKLM\\SOFTWARE\\Kestrin\\Ondra Config\\Config" /v opentracing_enabled /reg:32 /f >/dev/null 2>&1 || true' EXIT
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.1; done
[ -f "$work/ready" ] || fail "the agent listener did not start"
out=$("$src/scripts/wine-run.sh" "$work/prefix/bin/kestrinmodule.exe")
[ "$(tr -d '\r' <<<"$out")" = $'tracing on\nchild exit=0\nfault=0xc0000005 destroyed=1' ] || fail "the module says: $out"
wait $listener || fail "the listener did not receive the five spans of the module and its child"
/usr/bin/python3 - "$work/spans.jsonl" <<'PY' || fail "the spans are not the module's"
import json, sys
spans = [json.loads(line) for line in open(sys.argv[1])]
def one(prefix):
    found = [s for s in spans if s["operationName"].startswith(prefix)]
    assert len(found) == 1, (prefix, spans)
    return found[0]
assert len(spans) == 5 and all(s["service"] == "kestrinmodule" for s in spans), spans
root = one("Root Span for module: kestrinmodule")
outer = one("NEW: outer")
inner = one("CHILD: inner")
assert outer["parentSpanId"] == root["spanId"] and inner["parentSpanId"] == outer["spanId"], spans
assert {"key": "installed", "type": "STRING", "value": "yes"} in inner["tags"], inner
# The child's root span continues the span that was current at the injection.
childRoot = one("Propagated Root Span for module: kestrinmodule")
childWork = one("NEW: childWork")
assert childRoot["parentSpanId"] == outer["spanId"], (childRoot, outer)
assert childWork["parentSpanId"] == childRoot["spanId"], (childWork, childRoot)
assert all(s["traceIdLow"] == root["traceIdLow"] and s["traceIdHigh"] == root["traceIdHigh"] for s in spans), spans
PY

# The operator's ZIP: the DLLs that go beside the executables, the event message file, the guide;
# the symbols ZIP: the debug information of the DLLs built here.
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/zip" >/dev/null)
zip=$(ls "$work"/zip/*-win64.zip)
symbols=$(ls "$work"/zip/*-win64-symbols.zip)
listing=$(/usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
for file in opentracingprovider.dll jaegertracing.dll libopentracing.dll libstdc++-6.dll libgcc_s_seh-1.dll \
            libwinpthread-1.dll eventmsg.dll operator-guide.md; do
  grep -q "/$file\$" <<<"$listing" || fail "the ZIP lacks $file"
done
! grep -q '\.h$\|\.a$\|cmake$\|\.debug$' <<<"$listing" || fail "the ZIP carries development files or symbols"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# Every DLL stripped; ours carry the version resource and a debug link to a symbol file of the
# symbols ZIP whose CRC matches.
/usr/bin/python3 - "$zip" "$symbols" "$version" "$work/unzipped" <<'PY' || fail "the ZIPs' DLLs are not as shipped"
import os, re, struct, subprocess, sys, zipfile, zlib
runtime, symbols, version, out = sys.argv[1:5]
zipfile.ZipFile(runtime).extractall(out + "/runtime")
zipfile.ZipFile(symbols).extractall(out + "/symbols")
files = {name: os.path.join(d, name) for part in ("runtime", "symbols") for d, _, names in os.walk(out + "/" + part)
         for name in names}
def sections(path):
    listing = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", path], capture_output=True, text=True, check=True)
    return re.findall(r"^\s*\d+ (\S+)", listing.stdout, re.M)
def debuglink(path):
    subprocess.run(["x86_64-w64-mingw32-objcopy", "--dump-section", ".gnu_debuglink=" + out + "/link", path,
                    out + "/scratch"], check=True, capture_output=True)
    data = open(out + "/link", "rb").read()
    name = data.split(b"\0", 1)[0]
    return name.decode(), struct.unpack_from("<I", data, (len(name) + 4) & ~3)[0]
def fixed_version(path):
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    assert at > 0, path + " has no version resource"
    ms, ls, pms, pls = struct.unpack_from("<4I", data, at + 8)
    assert (ms, ls) == (pms, pls), path
    return "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16), ls & 0xFFFF
dlls = [name for name in files if name.endswith(".dll")]
assert len(dlls) == 7, dlls
for name in dlls:
    assert not [s for s in sections(files[name]) if s.startswith(".debug")], name + " is not stripped"
for name in ("opentracingprovider.dll", "jaegertracing.dll", "eventmsg.dll"):
    assert fixed_version(files[name]) == (version, 0), (name, fixed_version(files[name]), version)
    text = open(files[name], "rb").read()
    for value in ("CompanyName", "FileDescription", "ProductName", "LegalCopyright", version):
        assert value.encode("utf-16-le") in text, (name, value)
for name in ("opentracingprovider.dll", "jaegertracing.dll", "libopentracing.dll"):
    link, crc = debuglink(files[name])
    assert link == name + ".debug" and link in files, (name, link)
    assert zlib.crc32(open(files[link], "rb").read()) == crc, name + ": the symbol file's CRC differs"
    assert ".debug_info" in sections(files[link]), link
assert sorted(n for n in files if n.endswith(".debug")) == sorted(n + ".debug" for n in
       ("opentracingprovider.dll", "jaegertracing.dll", "libopentracing.dll")), files
PY
echo "package_test: module built against the installed prefix traced 3 spans and its child 2 in the same trace;" \
     "$(basename "$zip") holds the" \
     "stripped runtime ($(du -k "$zip" | cut -f1) KB), $(basename "$symbols") its symbols"
