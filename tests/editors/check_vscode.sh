#!/usr/bin/env bash
# The VS Code extension: builds its .vsix (packaging/vsix.sh, which installs the locked npm
# packages when needed), runs its tests under node's test runner and the type check of its
# client, and checks that the package holds what the editor loads and that its client loads with
# every module it needs from inside the package.
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
for file in package.json extension.js settings.js language-configuration.json \
  syntaxes/vorpex.tmLanguage.json LICENSE.txt readme.md node_modules/vscode-languageclient/package.json; do
  [ -f "$work/unpacked/extension/$file" ] || { echo "FAIL: $vsix holds no extension/$file" >&2; exit 1; }
done
if [ -n "$(ls "$work/unpacked/extension" | grep -x -e test -e jsconfig.json)" ]; then
  echo "FAIL: $vsix holds the tests" >&2
  exit 1
fi
env -u NODE_PATH node "$source_dir/tests/editors/load_extension.js" "$work/unpacked"
