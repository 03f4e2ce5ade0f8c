#!/usr/bin/env bash
# The web playground: `build` builds the site (web/build.sh) into WORK_DIR/site; `compare` runs
# the WebAssembly module against the native binary (compare.mjs); `browser` drives the page in
# headless Chromium (browser.mjs), which leaves its screenshot and budget.json in WORK_DIR.
# Exits 77 (skipped), with the reason, when emscripten, node, npm or chromium is missing, or the
# site was not built.
# Usage: check_web.sh build|compare|browser SOURCE_DIR WORK_DIR [VORPEX VORPEX_GEN]
set -euo pipefail
mode=$1 source_dir=$2 work=$3
skip() {
  echo "skipped: $*"
  exit 77
}
command -v node >/dev/null || skip "node is not installed (apt-get install nodejs)"
command -v npm >/dev/null || skip "npm is not installed (apt-get install npm)"
site=$work/build/site
case $mode in
  build)
    command -v emcc >/dev/null || skip "emscripten is not installed (apt-get install emscripten node-acorn)"
    [ -e /usr/share/nodejs/acorn ] || skip "node-acorn is not installed (apt-get install node-acorn)"
    rm -rf "$site"
    bash "$source_dir/web/build.sh" "$work/build"
    ;;
  compare)
    [ -f "$site/vorpex.js" ] || skip "the site was not built (see the web.build test)"
    node "$source_dir/tests/web/compare.mjs" "$site" "$4" "$5" "$6" "$work/compare"
    ;;
  browser)
    [ -f "$site/index.html" ] || skip "the site was not built (see the web.build test)"
    chromium=${CHROMIUM:-/usr/bin/chromium}
    [ -x "$chromium" ] || skip "chromium is not installed (apt-get install chromium)"
    CHROMIUM=$chromium node "$source_dir/tests/web/browser.mjs" "$site" "$work"
    ;;
  *)
    echo "usage: check_web.sh build|compare|browser SOURCE_DIR WORK_DIR [VORPEX VORPEX_GEN]" >&2
    exit 2
    ;;
esac
