#!/usr/bin/env bash
# The VS Code extension: builds its .vsix (packaging/vsix.sh, which installs the locked npm
# packages when needed), runs its tests under node's test runner and the type check of its
# client, and checks that the package holds what the editor loads and no more, and that its client,
# bundled, loads with every module it needs from inside the package.
# Exits 77 (skipped) when node or npm is missing, or the npm registry cannot be reached.
# Usage: check_vscode.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source_dir=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
vsix=$(bash "$source_dir/packaging/vsix.sh" "$work")
status=$?
echo "$vsix"
[ "$status" -eq 0 ] || exit "$status"
set -e
cd "$source_dir/editors/vscode"
node --test test/
npx --no-install tsc -p jsconfig.json

mkdir "$work/unpacked" && unzip -q "$vsix" -d "$work/unpacked"
# What the editor loads, the bundle and the licenses of what it holds: no node_modules, no sources
# that the bundle already holds, no tests.
expected="LICENSE.txt
dist/THIRD-PARTY-NOTICES.txt
dist/extension.js
images/icon.png
language-configuration.json
package.json
readme.md
syntaxes/vorpex.tmLanguage.json"
packaged=$(cd "$work/unpacked/extension" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$packaged" != "$expected" ]; then
  echo "FAIL: $vsix holds" >&2
  echo "$packaged" >&2
  echo "expected:" >&2
  echo "$expected" >&2
  exit 1
fi
env -u NODE_PATH node "$source_dir/tests/editors/load_extension.js" "$work/unpacked"
