#!/usr/bin/env bash
# Installs what the build needs and builds the Windows dependencies into build/deps.
# Idempotent: a second run only checks what is already there.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="${KESTRIN_DEPS_DIR:-$root/build/deps}"
mkdir -p "$deps"

log() { printf 'setup: %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian packages: the cross compiler, clang and lld (the second compiler the library is built
# with), Wine, the build tools, the independent Thrift decoder, the SVG renderer the trace-picture
# test draws with and Graphviz, which draws the layers.
packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools clang lld
  wine wine64 cmake ninja-build googletest xz-utils dpkg-dev
  python3-thrift thrift-compiler ruby-jaeger-client librsvg2-bin graphviz
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# opentracing-cpp for Windows, from Debian's source package.
ot_version=1.6.0
ot_prefix="$deps/opentracing"
if [ ! -f "$ot_prefix/.built-$ot_version" ]; then
  src_list=/etc/apt/sources.list.d/kestrin-deb-src.sources
  if [ ! -f "$src_list" ]; then
    log "enabling source packages"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | as_root tee "$src_list" >/dev/null
    as_root apt-get update -qq
  fi
  dl="$deps/download"
  mkdir -p "$dl"
  tarball="$dl/opentracing-cpp_$ot_version.orig.tar.xz"
  if [ ! -f "$tarball" ]; then
    log "fetching opentracing-cpp $ot_version source"
    # The Debian patch tarball is not always served; only the orig tarball and the .dsc are needed.
    (cd "$dl" && apt-get source --download-only opentracing-cpp >/dev/null 2>&1) || true
  fi
  dsc=$(ls "$dl"/opentracing-cpp_"$ot_version"*.dsc 2>/dev/null | head -n 1 || true)
  [ -f "$tarball" ] && [ -n "$dsc" ] || { echo "setup: could not fetch opentracing-cpp $ot_version" >&2; exit 1; }
  want=$(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0} f && $3 ~ /orig\.tar\.xz$/ {print $1}' "$dsc")
  have=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ -z "$want" ] || [ "$want" != "$have" ]; then
    echo "setup: checksum mismatch for $tarball (expected '$want', got '$have')" >&2
    rm -f "$tarball"
    exit 1
  fi
  log "building opentracing-cpp $ot_version for Windows"
  work="$deps/opentracing-src"
  rm -rf "$work" "$deps/opentracing-build"
  mkdir -p "$work"
  tar -xf "$tarball" -C "$work" --strip-components=1
  cmake -S "$work" -B "$deps/opentracing-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$ot_prefix" \
    -DBUILD_TESTING=OFF -DENABLE_LINTING=OFF -DBUILD_MOCKTRACER=OFF \
    -DBUILD_STATIC_LIBS=OFF -DBUILD_SHARED_LIBS=ON >/dev/null
  cmake --build "$deps/opentracing-build" >/dev/null
  cmake --install "$deps/opentracing-build" >/dev/null
  rm -rf "$work" "$deps/opentracing-build"
  touch "$ot_prefix/.built-$ot_version"
fi
log "ready (dependencies in $deps)"
