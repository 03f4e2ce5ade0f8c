#!/usr/bin/env bash
# Loads the Neovim plugin in a headless Neovim and runs check_nvim.lua beside this script.
# Exits 77 (skipped) when nvim is not installed.
# Usage: check_nvim.sh PLUGIN_DIR WORK_DIR
set -uo pipefail
plugin=$1 work=$2
if ! command -v nvim >/dev/null; then
  echo "nvim not found (apt-get install neovim): the Neovim plugin is not checked"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
script=$(cd "$(dirname "$0")" && pwd)/check_nvim.lua
plugin=$(cd "$plugin" && pwd)
fixture=$plugin/../vscode/test/fixtures/tokens.vbas
# Any error in the script ends Neovim with status 1, instead of leaving it waiting for input.
WORK=$work PLUGIN=$plugin FIXTURE=$fixture timeout 60 nvim --headless --clean --cmd "set rtp^=$plugin" \
  -c "lua local ok, err = pcall(dofile, '$script'); if not ok then io.stderr:write(tostring(err) .. '\n'); vim.cmd('cquit 1') end" \
  </dev/null
