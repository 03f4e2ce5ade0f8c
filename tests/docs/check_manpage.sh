#!/usr/bin/env bash
# The manual page renders without a single warning, names the project's version and has its
# sections. Usage: check_manpage.sh groff|man PAGE VERSION [SECTION...] (vorpex.1's by default)
set -euo pipefail
tool=$1 page=$2 version=$3
shift 3
sections=("$@")
[ ${#sections[@]} -gt 0 ] || sections=(NAME SYNOPSIS DESCRIPTION OPTIONS "THE DEFINE DIRECTIVE"
  DIAGNOSTICS "EXIT STATUS" NOTES EXAMPLES "SEE ALSO")
title=$(basename "$page" .1 | tr '[:lower:]' '[:upper:]')

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

grep -q "^\.TH $title 1 [0-9-]* \"vorpex $version\"" "$page" ||
  fail "the .TH line does not name $title and vorpex $version: $(grep '^\.TH' "$page")"

case $tool in
  groff)
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
    [ -z "$warnings" ] || fail $'groff -man -ww -z:\n'"$warnings"
    text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
    ;;
  man)
    # A name with a slash is a file to every man (man-db, mandoc's, the BSDs'); only man-db has
    # --warnings, so the warnings are checked where it is the man at hand.
    file=$(cd "$(dirname "$page")" && pwd)/$(basename "$page")
    if man --help 2>&1 | grep -q -- --warnings; then
      for width in 80 65; do
        warnings=$(MANPAGER=cat PAGER=cat MANWIDTH=$width man --warnings "$file" 2>&1 >/dev/null) ||
          fail "man failed: $warnings"
        [ -z "$warnings" ] || fail $'man --warnings (width '"$width"$'):\n'"$warnings"
      done
    fi
    text=$(MANPAGER=cat PAGER=cat MANWIDTH=80 man "$file" | col -b)
    ;;
  *) fail "unknown tool $tool" ;;
esac

for section in "${sections[@]}"; do
  grep -qx "$section" <<<"$text" || fail "the rendered page has no $section section"
done
echo "$tool renders $page without warnings"
