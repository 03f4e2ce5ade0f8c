#!/usr/bin/env bash
# check_links.sh itself: a table of small documents, each beside the same other files, and whether
# the check must pass them or find a broken link. Usage: check_links_test.sh CHECK_LINKS WORK_DIR
set -uo pipefail
check=$1 work=$2

rm -rf "$work"
mkdir -p "$work/sub" "$work/folder"
cat >"$work/other.md" <<'EOF'
# Other

## Constants: DEFINE

## The package's maintainer

## `-D` and `--define`

## Usage

## Usage

```sh
## not a heading
```
EOF
touch "$work/sub/picture.png"

# expect (pass or fail), the document's folder under $work, its text (printf %b).
cases=(
  'pass|.|[a file](other.md)'
  'pass|.|[a folder](folder/)'
  'fail|.|[a missing file](missing.md)'
  'pass|.|[an anchor with a colon](other.md#constants-define)'
  "pass|.|[an anchor with an apostrophe](other.md#the-packages-maintainer)"
  'pass|.|[an anchor of inline code](other.md#-d-and---define)'
  'pass|.|[the second of two headings](other.md#usage-1)'
  'fail|.|[a third that does not exist](other.md#usage-2)'
  'fail|.|[a missing anchor](other.md#install)'
  'fail|.|[a heading inside a fenced block](other.md#not-a-heading)'
  'pass|.|# Here\n\n[an anchor of the document itself](#here)'
  'fail|.|# Here\n\n[a missing anchor of the document itself](#there)'
  'pass|sub|[up one folder](../other.md#usage)'
  'fail|sub|[from the wrong folder](other.md)'
  'pass|sub|![an image](picture.png "its title")'
  'pass|.|```\n[in a fenced block](missing.md)\n```'
  'pass|.|`[in inline code](missing.md)`'
  'pass|.|[another site](https://example.invalid/missing.md)'
  'fail|.|[one good](other.md), [one broken](other.md#nowhere)'
)

failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r expect folder text <<<"$row"
  document=$work/$folder/doc.md
  printf '%b\n' "$text" >"$document"
  if bash "$check" "$document" >"$work/log" 2>&1; then got=pass; else got=fail; fi
  if [ "$got" != "$expect" ]; then
    echo "FAIL: expected $expect, got $got, for: $text" >&2
    sed 's/^/  /' "$work/log" >&2
    failures=$((failures + 1))
  fi
  rm -f "$document"
done
if ((failures > 0)); then
  echo "$failures of ${#cases[@]} cases are wrong" >&2
  exit 1
fi
echo "${#cases[@]} cases are right"
