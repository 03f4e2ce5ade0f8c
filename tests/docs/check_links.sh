#!/usr/bin/env bash
# Every relative link of a Markdown document leads somewhere: the file or folder it names exists
# (relative to the document's folder), and a `#fragment` names a heading of the Markdown file it
# points into, as GitHub makes anchors of headings: lower case, punctuation but `-` and `_` gone,
# blanks turned into `-`, and `-1`, `-2`, ... after a heading whose anchor came before. Links
# inside fenced blocks and inline code are not links; links to other sites are not followed.
# Usage: check_links.sh DOCUMENT...
set -uo pipefail
export LC_ALL=C.UTF-8

# The document's lines outside fenced blocks, inline code removed.
prose() {
  awk '/^ *```/ { fenced = !fenced; next } !fenced' "$1" | sed 's/`[^`]*`//g'
}

# The anchors of a Markdown file, one a line.
anchors() {
  local -A seen=()
  local heading anchor
  while IFS= read -r heading; do
    heading=${heading#"${heading%%[!#]*}"}
    heading=${heading# }
    anchor=$(printf '%s' "${heading,,}" | sed 's/[^[:alnum:] _-]//g; s/ /-/g')
    if [ -n "${seen[$anchor]+set}" ]; then
      seen[$anchor]=$((seen[$anchor] + 1))
      echo "$anchor-${seen[$anchor]}"
    else
      seen[$anchor]=0
      echo "$anchor"
    fi
  done < <(awk '/^ *```/ { fenced = !fenced; next } !fenced && /^#+ /' "$1" | sed 's/`//g')
}

failures=0 links=0
declare -A anchors_of=()  # by file: its anchors, computed once
for document in "$@"; do
  dir=$(dirname "$document")
  while IFS= read -r target; do
    case $target in
      http://* | https://* | mailto:*) continue ;;
    esac
    links=$((links + 1))
    path=${target%%#*} fragment=''
    [[ $target == *'#'* ]] && fragment=${target#*#}
    file=$document
    [ -n "$path" ] && file=$dir/$path
    if [ ! -e "$file" ]; then
      echo "FAIL: $document: ($target): no such file: $file" >&2
      failures=$((failures + 1))
      continue
    fi
    if [ -z "$fragment" ] || [[ $file != *.md ]]; then continue; fi
    [ -n "${anchors_of[$file]+set}" ] || anchors_of[$file]=$(anchors "$file")
    if ! grep -qxF -- "$fragment" <<<"${anchors_of[$file]}"; then
      echo "FAIL: $document: ($target): no heading of $file makes the anchor #$fragment" >&2
      failures=$((failures + 1))
    fi
  done < <(prose "$document" | grep -o '](\([^)]*\))' | sed 's/^](//; s/)$//; s/ ".*"$//')
done

if ((failures > 0)); then
  echo "$failures of $links links are broken" >&2
  exit 1
fi
echo "$links links in $# documents lead somewhere"
