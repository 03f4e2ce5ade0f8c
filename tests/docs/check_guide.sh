#!/usr/bin/env bash
# Runs the examples of a Markdown document against the built vorpex, so that the document stays
# true. Fenced blocks are read by their info string:
#
#   ```basic            a source; it becomes prog.bas (lines end in LF)
#   ```output [status=N] the output file that vorpex writes for the last source, shown with LF
#                       where the file has CR LF; the run must end with status N (0 if not given)
#   ```makefile         a Makefile for the console sessions after it (kept as it is, TABs too)
#   ```console          a terminal session in a folder that holds prog.bas: each "$ " line is run
#                       by bash (vorpex is the built binary) and the lines up to the next "$ "
#                       are its standard output and error, with CR LF shown as LF
#
# Every basic block must be followed by an output block. Other blocks are left alone.
# Usage: check_guide.sh VORPEX DOCUMENT WORK_DIR
set -uo pipefail
vorpex=$1 document=$2 work=$3

rm -rf "$work"
mkdir -p "$work/bin"
ln -s "$(cd "$(dirname "$vorpex")" && pwd)/$(basename "$vorpex")" "$work/bin/vorpex"
export PATH="$work/bin:$PATH"

failures=0 examples=0
fail() {
  echo "FAIL: $document:$1: $2" >&2
  failures=$((failures + 1))
}

# Writes the lines of a block, each followed by `end`, into a file.
write_lines() {
  local end=$1 file=$2
  shift 2
  : >"$file"
  local line
  for line in "$@"; do printf '%s%s' "$line" "$end" >>"$file"; done
}

check_output() {
  local at=$1 want_status=$2
  shift 2
  write_lines $'\r\n' "$work/expected" "$@"
  rm -f "$work/prog.out"
  (cd "$work" && vorpex -i prog.bas -o prog.out >console 2>&1)
  local status=$?
  [ "$status" -eq "$want_status" ] || fail "$at" "status $status, expected $want_status"
  if ! cmp -s "$work/prog.out" "$work/expected"; then
    fail "$at" $'the output differs (CR shown as ^M):\n'"$(cat -v "$work/prog.out")"
  fi
}

check_console() {
  local at=$1
  shift
  local script=$work/session.sh expected=$work/session.expected
  : >"$script"
  : >"$expected"
  local line
  for line in "$@"; do
    if [[ $line == '$ '* ]]; then
      # Each command's output, CRs removed and ended by a line end even where the command wrote
      # none; then $? is the command's status again.
      printf '{ %s\n} >.out 2>&1; s=$?; tr -d "\\r" <.out\n' "${line#\$ }" >>"$script"
      printf '[ -s .out ] && [ -n "$(tail -c 1 .out)" ] && echo; (exit $s)\n' >>"$script"
    else
      printf '%s\n' "$line" >>"$expected"
    fi
  done
  local actual
  actual=$(cd "$work" && bash "$script" 2>&1)
  if [ "$actual" != "$(cat "$expected")" ]; then
    fail "$at" $'the session differs; it printed:\n'"$actual"
  fi
}

in_block='' info='' indent='' start=0 have_source=0 source_at=0 number=0
block=()
while IFS= read -r line || [ -n "$line" ]; do
  number=$((number + 1))
  if [ -z "$in_block" ]; then
    # A fence may be indented (a block inside a list item); its lines lose the same indentation.
    if [[ $line =~ ^(\ *)\`\`\`(.*)$ ]]; then
      in_block=yes indent=${BASH_REMATCH[1]} info=${BASH_REMATCH[2]} start=$number block=()
    fi
    continue
  fi
  if [ "$line" != "$indent"'```' ]; then
    block+=("${line#"$indent"}")
    continue
  fi
  in_block=''
  read -r kind options <<<"$info"
  case $kind in
    basic)
      if ((have_source)); then fail "$source_at" "a basic block without an output block"; fi
      write_lines $'\n' "$work/prog.bas" "${block[@]}"
      have_source=1 source_at=$start
      ;;
    output)
      examples=$((examples + 1))
      if ((!have_source)); then
        fail "$start" "an output block without a basic block before it"
        continue
      fi
      want_status=0
      [[ ${options:-} =~ status=([0-9]+) ]] && want_status=${BASH_REMATCH[1]}
      check_output "$start" "$want_status" "${block[@]}"
      have_source=0
      ;;
    makefile)
      write_lines $'\n' "$work/Makefile" "${block[@]}"
      ;;
    console)
      examples=$((examples + 1))
      check_console "$start" "${block[@]}"
      ;;
  esac
done <"$document"
[ -z "$in_block" ] || fail "$start" "a block is not closed"
if ((have_source)); then fail "$source_at" "a basic block without an output block"; fi

if ((examples == 0)); then
  echo "FAIL: no examples found in $document" >&2
  exit 1
fi
if ((failures > 0)); then
  echo "$failures of $examples examples in $document are wrong" >&2
  exit 1
fi
echo "$examples examples in $document are right"
