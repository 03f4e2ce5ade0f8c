#!/usr/bin/env bash
# The bash completion offers the options where an option may stand and file names after -i and
# -o, both on its own and on top of the bash-completion helpers when they are installed.
# Usage: check_completion.sh COMPLETION_FILE WORK_DIR
set -uo pipefail
completion=$1 work=$2

rm -rf "$work"
mkdir -p "$work/sub"
cd "$work" || exit 1
touch -- prog.bas "my game.bas" out.bas notes.txt -weird.bas

failures=0
# macOS ships bash 3.2: nothing of bash 4 or later (mapfile/readarray, associative arrays, case
# conversions, |&, &>>) and compopt only behind a check that it exists.
code=$(sed 's/^[[:space:]]*#.*//' "$completion")
if grep -n -E '\b(mapfile|readarray|declare -A|local -A)\b|\$\{[A-Za-z_]+(,,|\^\^)|\|&|&>>' \
  <<<"$code" >&2; then
  echo "FAIL: the completion uses bash 4 features (above)" >&2
  failures=$((failures + 1))
fi
if grep -n 'compopt' <<<"$code" | grep -v 'type compopt' >&2; then
  echo "FAIL: compopt without a check that it exists (bash 3.2 has none)" >&2
  failures=$((failures + 1))
fi
# expect LINE WANT...: completing the command line LINE (the cursor at its end; a trailing blank
# starts a new word) gives exactly the replies WANT, in any order.
expect() {
  local line=$1
  shift
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _vorpex vorpex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed 's|/$||' | LC_ALL=C sort)
  want=$(printf '%s\n' "$@" | LC_ALL=C sort)
  if [ "$got" != "$want" ]; then
    echo "FAIL ($mode): '$line' completes to [${got//$'\n'/, }], expected [${want//$'\n'/, }]" >&2
    failures=$((failures + 1))
  fi
}

options=(-h -i -o -q -w -k -D --quiet --no-warnings --strict --keep-going --define --map
  --renumber --renumber-source --largest-line --leave-computed-jumps --help
  --version)
run_cases() {
  # Where an option may stand.
  expect 'vorpex ' "${options[@]}"
  expect 'vorpex -' "${options[@]}"
  expect 'vorpex -i' -i
  expect 'vorpex --' --quiet --no-warnings --strict --keep-going --define --map --renumber \
    --renumber-source --largest-line --leave-computed-jumps --help --version
  expect 'vorpex --k' --keep-going
  expect 'vorpex --v' --version
  expect 'vorpex -i prog.bas -o out.bas --he' --help
  expect 'vorpex -i prog.bas -o out.bas -' "${options[@]}"
  expect 'vorpex --map pr' prog.bas
  expect 'vorpex -D ' ''
  expect 'vorpex --define X=1 -q' -q
  # The value after -i or -o is a file name, taken as it is even when it begins with '-'.
  expect 'vorpex -i pr' prog.bas
  expect 'vorpex -i my' 'my game.bas'
  expect 'vorpex -i prog.bas -o o' out.bas
  expect 'vorpex -o no' notes.txt
  expect 'vorpex -input pr' prog.bas
  expect 'vorpex -output pr' prog.bas
  expect 'vorpex -i -w' -weird.bas
  expect 'vorpex -o -i ' "${options[@]}"
  expect 'vorpex -i su' sub
  expect 'vorpex -i nothing' ''
}

# On its own, as `cmake --install` leaves it for a shell without bash-completion.
mode=alone
# shellcheck source=/dev/null
source "$completion"
[ "$(complete -p vorpex)" = 'complete -F _vorpex vorpex' ] || {
  echo "FAIL: the completion is not registered for vorpex" >&2
  failures=$((failures + 1))
}
run_cases

# With the bash-completion helpers, as the package sees it.
helpers=/usr/share/bash-completion/bash_completion
if [ -r "$helpers" ]; then
  mode=bash-completion
  # shellcheck source=/dev/null
  source "$helpers" >/dev/null 2>&1
  source "$completion"
  if declare -F _filedir >/dev/null; then
    run_cases
  else
    mode=alone
  fi
fi

if ((failures > 0)); then
  exit 1
fi
if [ "$mode" = alone ]; then
  echo "completion checked on its own ($helpers is not installed)"
else
  echo "completion checked on its own and with $helpers"
fi
