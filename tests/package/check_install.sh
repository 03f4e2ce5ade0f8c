#!/usr/bin/env bash
# `cmake --install` into a fresh prefix gives exactly the binary, the manual page, the bash
# completion, the copyright file and the guide, and the installed binary runs.
# With LSP 1, the language server and its manual page are there too.
# Usage: check_install.sh CMAKE BUILD_DIR SOURCE_DIR WORK_DIR LSP
set -euo pipefail
cmake=$1 build=$2 source=$3 work=$4 lsp=${5:-0}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

expected=$'bin/vorpex\nshare/bash-completion/completions/vorpex\nshare/doc/vorpex/copyright\nshare/doc/vorpex/guide.md\nshare/man/man1/vorpex.1'
if [ "$lsp" = 1 ]; then
  expected=$(printf '%s\nbin/vorpex-lsp\nshare/man/man1/vorpex-lsp.1' "$expected" | LC_ALL=C sort)
fi
actual=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail $'installed files:\n'"$actual"$'\nexpected:\n'"$expected"

[ -x "$prefix/bin/vorpex" ] || fail "bin/vorpex is not executable"
cmp -s "$prefix/share/man/man1/vorpex.1" "$source/man/vorpex.1" ||
  fail "the installed manual page differs from man/vorpex.1"
cmp -s "$prefix/share/bash-completion/completions/vorpex" "$source/completion/vorpex.bash" ||
  fail "the installed completion differs from completion/vorpex.bash"

status=0
usage=$("$prefix/bin/vorpex" -h a b c) || status=$?
[ "$status" -eq 0 ] || fail "installed vorpex -h a b c: status $status"
[[ $usage == *"vorpex -i InpFileName -o OutFileName"* ]] ||
  fail "installed vorpex -h a b c printed: $usage"

if command -v man >/dev/null; then
  page=$(MANPAGER=cat PAGER=cat MANWIDTH=80 man "$prefix/share/man/man1/vorpex.1" | col -b)
  [[ $page == *"VORPEX(1)"* && $page == *"DEFINE name = value"* ]] ||
    fail "man does not show the installed page"
fi
echo "installed: $(echo "$actual" | tr '\n' ' ')"
