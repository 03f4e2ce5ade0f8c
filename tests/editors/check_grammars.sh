#!/usr/bin/env bash
# Runs grammars.mjs beside this script: both colourings against the language server's tokens.
# Exits 77 (skipped) when node or nvim is missing, or the VS Code extension's packages are not
# installed (the editors.vscode test installs them).
# Usage: check_grammars.sh SOURCE_DIR WORK_DIR VORPEX_LSP
set -euo pipefail
source_dir=$1 work=$2 server=$3
command -v node >/dev/null || { echo "node not found (apt-get install nodejs): the grammars are not checked"; exit 77; }
command -v nvim >/dev/null || { echo "nvim not found (apt-get install neovim): the grammars are not checked"; exit 77; }
[ -d "$source_dir/editors/vscode/node_modules/vscode-textmate" ] ||
  { echo "the VS Code extension's packages are not installed (see the editors.vscode test)"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
exec node "$(dirname "$0")/grammars.mjs" "$source_dir" "$work" "$server"
