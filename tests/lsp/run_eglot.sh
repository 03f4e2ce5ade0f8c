#!/usr/bin/env bash
# Runs eglot_test.el beside this script in `emacs --batch`, with vorpex-lsp found on PATH as the
# user guide's setup names it. Exits 77 (skipped), and says why, when Emacs or eglot is missing.
# Usage: run_eglot.sh SERVER GUIDE WORK_DIR
set -uo pipefail
server=$1 guide=$2 work=$3
if ! command -v emacs >/dev/null; then
  echo "emacs not found (apt-get install emacs-nox elpa-eglot): eglot is not tried"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
# No user configuration, no state left behind.
export HOME=$work
if ! emacs --batch --eval "(require 'eglot)" >"$work/eglot.log" 2>&1; then
  echo "eglot not found (apt-get install elpa-eglot): eglot is not tried"
  exit 77
fi
PATH=$(cd "$(dirname "$server")" && pwd):$PATH VORPEX_GUIDE=$guide VORPEX_WORK=$work \
  timeout 120 emacs --batch -l "$(dirname "$0")/eglot_test.el" </dev/null
