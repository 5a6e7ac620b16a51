#!/usr/bin/env bash
# Draws the library's layers as the build defines them, for docs/architecture.md:
#   scripts/layers-picture.sh            writes docs/layers.dot and docs/layers.svg
#   scripts/layers-picture.sh --check    fails when those differ from what the build gives now
# It configures a scratch build folder (KESTRIN_PICTURE_DIR, default build/layers-picture) with
# `cmake --graphviz`, keeps the layers and the libraries made of them, leaves out the links that
# other links imply, groups the layers by the folder that holds them and marks the layers that use
# another's internal headers; Graphviz's `dot` renders the picture.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
check=0
[ "${1:-}" = --check ] && check=1
scratch="${KESTRIN_PICTURE_DIR:-$root/build/layers-picture}"
mkdir -p "$scratch"
# Only the graph of the whole project: no files per target.
cat >"$scratch/CMakeGraphVizOptions.cmake" <<'CMAKE'
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
CMAKE
cmake -S "$root" -B "$scratch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DKESTRIN_DEPS_DIR="${KESTRIN_DEPS_DIR:-$root/build/deps}" -DBUILD_TESTING=OFF \
  --graphviz="$scratch/graph/targets.dot" >/dev/null

/usr/bin/python3 - "$scratch/graph/targets.dot" "$scratch/layers/layers.txt" >"$scratch/layers.dot" <<'PY'
import re, sys
targets, edges = {}, set()
for line in open(sys.argv[1]):
    node = re.match(r'\s*"(node\d+)" \[ label = "([^"]+)"', line)
    if node:
        targets[node.group(1)] = node.group(2)
    edge = re.match(r'\s*"(node\d+)" -> "(node\d+)"', line)
    if edge:
        edges.add(edge.groups())
folders, internals = {}, set()
for line in open(sys.argv[2]):
    words = line.split()
    if words and words[0] == "layer":
        folders[words[1]] = words[2]
    elif words and words[0] == "internals":
        internals.add((words[1], words[2]))
# Beside the layers: what is made of them.
products = {"kestrin_platform": "every layer a module links",
            "opentracingprovider": "opentracingprovider.dll",
            "opentracingprovider_textmap": "span-context text",
            "jaegertracing": "jaegertracing.dll"}
kept = set(folders) | set(products)
links = {(targets[a], targets[b]) for a, b in edges if targets[a] in kept and targets[b] in kept}
# A link that another path already implies is left out, so each arrow shows a step down.
def reaches(start, goal, skip):
    todo, seen = [start], set()
    while todo:
        at = todo.pop()
        for a, b in links:
            if a == at and (a, b) != skip and b not in seen:
                if b == goal:
                    return True
                seen.add(b)
                todo.append(b)
    return False
links = sorted(link for link in links if not reaches(link[0], link[1], link))
out = ["digraph layers {",
       '  graph [fontname = "Helvetica", fontsize = 11, nodesep = 0.25, ranksep = 0.45];',
       '  node [fontname = "Helvetica", fontsize = 10, shape = box, style = rounded];',
       '  edge [color = "#555555", arrowsize = 0.6];']
for folder in sorted(set(folders.values())):
    out.append('  subgraph "cluster_%s" {' % folder)
    out.append('    label = "%s/"; style = dashed; color = "#888888";' % folder)
    for layer in sorted(l for l, f in folders.items() if f == folder):
        out.append('    "%s";' % layer)
    out.append("  }")
for name, what in sorted(products.items()):
    out.append('  "%s" [shape = box, style = filled, fillcolor = "#e8e8e8", label = "%s\\n(%s)"];' % (name, name, what))
for user, used in links:
    out.append('  "%s" -> "%s";' % (user, used))
for user, lower in sorted(internals):
    out.append('  "%s" -> "%s" [color = "#b22222", style = dashed, label = "internal\\nheaders", fontsize = 8, '
               'fontcolor = "#b22222"];' % (user, lower))
out.append("}")
print("\n".join(out))
PY
dot -Tsvg "$scratch/layers.dot" >"$scratch/layers.svg"

if [ $check -eq 1 ]; then
  for file in layers.dot layers.svg; do
    cmp -s "$scratch/$file" "$root/docs/$file" ||
      { echo "layers-picture: docs/$file differs from the build; run scripts/layers-picture.sh" >&2; exit 1; }
  done
  echo "layers-picture: docs/layers.dot and docs/layers.svg match the build"
else
  cp "$scratch/layers.dot" "$scratch/layers.svg" "$root/docs/"
fi
