#!/usr/bin/env bash
# Builds the playground: the engine as WebAssembly with Debian's emscripten, then the page with
# esbuild, into BUILD_DIR/site (BUILD_DIR is build-web unless given). Serve that folder with any
# static file server: python3 -m http.server -d build-web/site
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build-web}")
# emscripten's optimiser needs acorn, which Debian's node-acorn puts there.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
# The host compiler's settings (CC, CXXFLAGS, ...) are not emscripten's.
unset CC CXX CFLAGS CXXFLAGS LDFLAGS
emcmake cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j2 --target vorpex_wasm
cd "$root/web"
if [ ! node_modules/.package-lock.json -nt package-lock.json ]; then
  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
fi
node build.mjs "$out/web" "$out/site"
