#!/usr/bin/env bash
# Builds the Debian package with cpack and checks its metadata (dpkg-deb -f) and its contents
# (dpkg-deb -c, then the unpacked files themselves).
# MAINTAINER is the one configured, or --test-build where none is known (a tree without git
# history): the package is then built with a maintainer that says so, and only then is it taken.
# With LSP 1, the language server and its manual page are in the package too.
# Usage: check_deb.sh CPACK BUILD_DIR SOURCE_DIR VERSION WORK_DIR MAINTAINER|--test-build [LSP]
set -euo pipefail
cpack=$1 build=$2 source=$3 version=$4 work=$5 maintainer=$6 lsp=${7:-0}
test_build=false
cpack_options=()
if [ "$maintainer" = --test-build ]; then
  test_build=true
  maintainer="vorpex test build <test-build@invalid>"
  cpack_options=(-D "CPACK_DEBIAN_PACKAGE_MAINTAINER=$maintainer")
fi

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" -G DEB "${cpack_options[@]}" --config "$build/CPackConfig.cmake" -B "$work" \
  >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
}

arch=$(dpkg --print-architecture)
deb=$work/vorpex_${version}-1_${arch}.deb
if [ ! -f "$deb" ]; then
  echo "FAIL: no $deb; cpack made: $(ls "$work")" >&2
  exit 1
fi

# Metadata.
field() { dpkg-deb -f "$deb" "$1"; }
check_field() {
  local name=$1 want=$2 got
  got=$(field "$name")
  [ "$got" = "$want" ] || fail "$name is '$got', expected '$want'"
}
check_field Package vorpex
check_field Version "${version}-1"
check_field Architecture "$arch"
check_field Section devel
check_field Priority optional
check_field Maintainer "$maintainer"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "Maintainer '$(field Maintainer)' is not 'name <address>'"
[[ $(field Maintainer) != *.invalid\> ]] || $test_build ||
  fail "Maintainer '$(field Maintainer)' is a placeholder"
depends=$(field Depends)
for library in libc6 libstdc++6; do
  [[ $depends =~ (^|, )"$library"\ \(\>=\ [^\)]+\) ]] ||
    fail "Depends '$depends' lacks a versioned $library (computed by dpkg-shlibdeps)"
done
description=$(field Description)
synopsis=${description%%$'\n'*}
[ -n "$synopsis" ] && [ ${#synopsis} -le 80 ] || fail "Description synopsis '$synopsis'"
[ "$description" != "$synopsis" ] || fail "Description has no extended text"
while IFS= read -r line; do
  [ ${#line} -le 80 ] || fail "Description line longer than 80 characters: '$line'"
done <<<"$description"

# Contents: exactly these files, owned by root, with the usual modes.
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $1, $2, $6 }' <<<"$listing" | LC_ALL=C sort -k3)
expected_files="-rwxr-xr-x root/root ./usr/bin/vorpex
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vorpex
-rw-r--r-- root/root ./usr/share/doc/vorpex/copyright
-rw-r--r-- root/root ./usr/share/doc/vorpex/guide.md
-rw-r--r-- root/root ./usr/share/man/man1/vorpex.1.gz"
if [ "$lsp" = 1 ]; then
  expected_files=$(printf '%s\n%s\n%s' "$expected_files" "-rwxr-xr-x root/root ./usr/bin/vorpex-lsp" \
    "-rw-r--r-- root/root ./usr/share/man/man1/vorpex-lsp.1.gz" | LC_ALL=C sort -k3)
fi
[ "$files" = "$expected_files" ] ||
  fail $'package files:\n'"$files"$'\nexpected:\n'"$expected_files"
awk '$1 ~ /^d/ && $2 != "root/root" { bad = 1 } END { exit bad }' <<<"$listing" ||
  fail "a directory in the package is not owned by root"

# The unpacked files.
root=$work/root
dpkg-deb -x "$deb" "$root"
page=$root/usr/share/man/man1/vorpex.1.gz
if [ -f "$page" ]; then
  gzip -dc "$page" | cmp -s - "$source/man/vorpex.1" ||
    fail "vorpex.1.gz does not unpack to man/vorpex.1"
  # gzip -n: no file name (flag 0x08) and no time stamp, as Debian compresses manual pages.
  read -r -a header < <(od -An -tu1 -N8 "$page")
  if ((header[3] & 8)); then fail "vorpex.1.gz stores a file name"; fi
  [ "${header[4]}${header[5]}${header[6]}${header[7]}" = 0000 ] ||
    fail "vorpex.1.gz stores a time stamp"
fi
cmp -s "$root/usr/share/bash-completion/completions/vorpex" "$source/completion/vorpex.bash" ||
  fail "the packaged completion differs from completion/vorpex.bash"
cmp -s "$root/usr/share/doc/vorpex/guide.md" "$source/docs/guide.md" ||
  fail "the packaged guide differs from docs/guide.md"
# Debian's machine-readable copyright format: the format line, then a Files paragraph with its
# Copyright and License fields, and the licence text.
copyright=$root/usr/share/doc/vorpex/copyright
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright does not start with the Format line"
for field in 'Files: \*' 'Copyright: .*the vorpex authors' 'License: Expat'; do
  grep -qx "$field" "$copyright" || fail "copyright has no line '$field'"
done
grep -q '^ Permission is hereby granted' "$copyright" || fail "copyright lacks the licence text"
status=0
usage=$("$root/usr/bin/vorpex" -h a b c) || status=$?
[ "$status" -eq 0 ] && [[ $usage == *"vorpex -i InpFileName -o OutFileName"* ]] ||
  fail "the packaged vorpex -h a b c: status $status, output: $usage"

# The control archive's checksums match the files.
dpkg-deb -e "$deb" "$work/control"
(cd "$root" && md5sum --check --quiet "$work/control/md5sums") || fail "md5sums do not match"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed for $deb" >&2
  exit 1
fi
echo "$(basename "$deb"): Depends: $depends"
