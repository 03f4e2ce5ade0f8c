# bash completion for vorpex                                  -*- shell-script -*-
#
# vorpex -i InpFileName -o OutFileName: after -i, -o or --map (or any argument whose second
# character is i or o, such as -input) a file name is completed; after -D, --define, --renumber,
# --renumber-source or --largest-line a value is typed; elsewhere the options are offered.
# Written for bash 3.2 as well (macOS's bash): no mapfile, and compopt only where it exists.

_vorpex() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local i word expect_file=0 expect_value=0

  # Walk the words before the cursor: the word after -i, -o, --map, -D or --define is a value,
  # taken as it is even when it begins with '-', so it never opens a new option.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((expect_file || expect_value)); then
      expect_file=0 expect_value=0
    elif [[ $word == -[io]* || $word == --map ]]; then
      expect_file=1
    elif [[ $word == -D* || $word == --define || $word == --renumber || $word == --renumber-source ||
      $word == --largest-line ]]; then
      expect_value=1
    fi
  done

  COMPREPLY=()
  if ((expect_file)); then
    if declare -F _filedir >/dev/null; then
      _filedir
    else
      type compopt >/dev/null 2>&1 && compopt -o filenames 2>/dev/null
      local IFS=$'\n'
      COMPREPLY=($(compgen -f -- "$cur"))
    fi
    return 0
  fi
  ((expect_value)) && return 0
  local options='-i -o -h -q -w -k -D --quiet --no-warnings --strict --keep-going --define --map
    --renumber --renumber-source --largest-line --leave-computed-jumps --help --version'
  COMPREPLY=($(compgen -W "$options" -- "$cur"))
  return 0
}
complete -F _vorpex vorpex

# ex: filetype=sh
