#!/usr/bin/python3
"""A crash dump read back into stacks with function names.

The fault host runs beside the shipped (stripped) DLLs with dumps switched on and reports heap
corruption from a function of its own; the provider writes a full-memory dump. dumpstack.py must
unwind the faulting thread from the exception's context through that function to main, and show
the provider's handler on the stack of the thread that wrote the dump, named through the
provider's separate symbol file: without the symbol folder the same frame has no name.

Usage: dumpstack_test.py <source-dir> <build-dir> <faulthost.exe>
"""
import glob
import os
import re
import shutil
import subprocess
import sys

src, build, host = sys.argv[1:4]
work = os.path.join(build, "dumpstack-test")
shutil.rmtree(work, ignore_errors=True)
folder = os.path.join(work, "bin")
shutil.copytree(os.path.join(build, "release", "bin"), folder)
shutil.copy(host, folder)
dumps = os.path.join(work, "dumps")
os.makedirs(dumps)
symbols = os.path.join(build, "release", "symbols")

env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix"))
wine = [os.path.join(src, "scripts", "wine-run.sh")]
key = r"HKLM\SOFTWARE\Kestrin\Ondra Config\Config"


def reg(*args):
    return subprocess.run(wine + ["reg"] + list(args) + ["/reg:32"], env=env, capture_output=True, text=True)


def saved(name):
    """(type, data) of a value as it is now, or None."""
    out = reg("query", key, "/v", name)
    match = re.search(r"^\s*%s\s+(REG_\w+)\s+(.*?)\s*$" % re.escape(name), out.stdout, re.M | re.I)
    return (match.group(1), match.group(2)) if out.returncode == 0 and match else None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


settings = {"PRODUCT_ROOT_D": ("REG_SZ", windows_path(work)),
            "CrashDumpsLocation": ("REG_SZ", windows_path(dumps)),
            "CrashDumpsEnabled": ("REG_DWORD", "1")}
before = {name: saved(name) for name in settings}
try:
    for name, (kind, data) in settings.items():
        reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
    run = subprocess.run(wine + [os.path.join(folder, os.path.basename(host))], env=env, capture_output=True,
                         text=True, timeout=500)
finally:
    for name, value in before.items():
        if value is None:
            reg("delete", key, "/v", name, "/f")
        else:
            reg("add", key, "/v", name, "/t", value[0], "/d", value[1], "/f")
assert run.stdout.strip() == "faulted 1", (run.returncode, run.stdout, run.stderr)
written = glob.glob(os.path.join(dumps, "*.dmp"))
assert len(written) == 1, written


def stacks(*folders):
    """{heading: [frame lines]} as dumpstack.py prints them."""
    out = subprocess.run(["/usr/bin/python3", os.path.join(src, "tools", "dumpstack", "dumpstack.py"), written[0]]
                         + list(folders), capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    sections = {}
    for block in out.stdout.split("\n\n"):
        heading, *lines = block.splitlines()
        sections[heading] = lines
    return out.stdout, sections


def frames_of(sections, pattern):
    found = [lines for heading, lines in sections.items() if re.search(pattern, heading)]
    assert len(found) == 1, (pattern, list(sections))
    return found[0]


text, sections = stacks(folder, symbols)
faulting = frames_of(sections, r"^Exception 0xc0000374 .* its stack from the exception's context:$")
fault = next(i for i, line in enumerate(faulting) if re.search(r" faulthost\.exe  corruptRecord\+0x[0-9a-f]+  .*faultHost\.c:\d+$", line))
caller = next(i for i, line in enumerate(faulting) if re.search(r" faulthost\.exe  main\+0x[0-9a-f]+  .*faultHost\.c:\d+$", line))
assert fault < caller, faulting
assert not any("stack scan" in line for line in faulting[:caller]), faulting

thread = int(re.search(r"in thread (\d+);", text).group(1))
writer = frames_of(sections, r"^Thread %d\b" % thread)
handler = [line for line in writer if re.search(r" opentracingprovider\.dll  onHeapCorruption\(.*\)\+0x[0-9a-f]+  .*HeapCorruptionHandler\.cpp:\d+$", line)]
assert handler, text

# The shipped DLL holds no names of its own: they come from the symbol file.
text, sections = stacks(folder)
writer = frames_of(sections, r"^Thread %d\b" % thread)
assert not any("onHeapCorruption" in line for line in writer), text
assert any(re.search(r" opentracingprovider\.dll\+0x[0-9a-f]+$", line) for line in writer), text
shutil.rmtree(work)  # the dump is hundreds of MB
print("dumpstack_test: the fault's stack names corruptRecord and main; the writer's names onHeapCorruption")
