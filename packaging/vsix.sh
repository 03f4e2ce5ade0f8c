#!/usr/bin/env bash
# Builds the VS Code extension (editors/vscode) into OUT_DIR/vorpex-VERSION.vsix, its client
# bundled into one file with what it needs at run time. Installs the exact versions of package-lock.json with `npm ci` first when
# editors/vscode/node_modules is missing or was installed from another lockfile.
# Exits 77 when node or npm is missing or too old, or the npm registry cannot be reached.
# Usage: packaging/vsix.sh OUT_DIR
set -euo pipefail
extension=$(cd "$(dirname "$0")/../editors/vscode" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "node or npm not found (apt-get install nodejs npm): the VS Code extension is not built"
  exit 77
fi
if [ "$(node -p 'process.versions.node.split(".")[0]')" -lt 20 ]; then
  echo "node $(node --version) is too old for the extension's packaging tools (20 or later)"
  exit 77
fi
cd "$extension"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One install at a time, whichever build directory runs this.
exec 9<package.json
flock 9
stamp=node_modules/.vorpex-lock.sha256
if ! sha256sum --check --status "$stamp" 2>/dev/null; then
  if ! npm ci --no-audit --no-fund --prefer-offline >"$log" 2>&1; then
    cat "$log" >&2
    if grep -qE 'E(NOTFOUND|AI_AGAIN|CONNREFUSED|CONNRESET|TIMEDOUT|NETUNREACH)' "$log"; then
      echo "the npm registry cannot be reached: the VS Code extension is not built"
      exit 77
    fi
    exit 1
  fi
  sha256sum package.json package-lock.json >"$stamp"
fi
version=$(node -p 'require("./package.json").version')
# vsce bundles the client first (the script vscode:prepublish); a warning of its fails the build.
npx --no-install vsce package --out "$out/vorpex-$version.vsix" >"$log" 2>&1 ||
  { cat "$log" >&2; exit 1; }
if grep -q WARNING "$log"; then
  cat "$log" >&2
  echo "vsce warned: the VS Code extension must package without warnings" >&2
  exit 1
fi
echo "$out/vorpex-$version.vsix"
