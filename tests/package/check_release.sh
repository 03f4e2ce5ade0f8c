#!/usr/bin/env bash
# Checks the artifacts that packaging/release.sh made: the sums, each archive's exact contents,
# and each binary converting a program (the Linux ones static, those for the ARM boards under
# qemu-user-static, the .exe under wine).
# Usage: check_release.sh OUT_DIR VERSION MACHINE
set -euo pipefail
out=$1 version=$2 machine=$3
arch=$(dpkg --print-architecture)
linux=vorpex-$version-linux-$machine
# The Linux tarballs: this machine's, and the ARM boards' but this machine's own. Each with the
# machine that readelf names in its binaries' header, and what runs them here.
linux_tarballs=("$linux")
declare -A elf_machine=([$linux]=$(readelf -h /proc/self/exe | sed -n 's/^ *Machine: *//p'))
declare -A runner=([$linux]=)
for board in aarch64:AArch64:aarch64 armhf:ARM:arm; do
  IFS=: read -r name elf emulator <<<"$board"
  [ "$name" = "$machine" ] && continue
  tarball=vorpex-$version-linux-$name
  linux_tarballs+=("$tarball")
  elf_machine[$tarball]=$elf
  runner[$tarball]=qemu-$emulator-static
done
windows=vorpex-$version-windows-x86_64
web=vorpex-$version-web
work=$out/check
rm -rf "$work" && mkdir -p "$work"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
same() {  # same WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1:"$'\n'"$2"$'\nexpected:\n'"$3"
}

(cd "$out" && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS do not match"
same "SHA256SUMS lists" "$(awk '{ print $2 }' "$out/SHA256SUMS" | LC_ALL=C sort)" \
  "$(printf '%s\n' "${linux_tarballs[@]/%/.tar.gz}" "$windows.zip" "$web.zip" \
    "vorpex_$version-1_$arch.deb" "vorpex-$version.vsix" |
    LC_ALL=C sort)"

maintainer=$(dpkg-deb -f "$out/vorpex_$version-1_$arch.deb" Maintainer)
[[ $maintainer != *.invalid\> ]] || fail "the Debian package's maintainer is a placeholder: $maintainer"
deb_files=$(dpkg-deb -c "$out/vorpex_$version-1_$arch.deb" | awk '$1 !~ /^d/ { print $6 }')
same "the Debian package holds" "$(LC_ALL=C sort <<<"$deb_files")" "./usr/bin/vorpex
./usr/bin/vorpex-lsp
./usr/share/bash-completion/completions/vorpex
./usr/share/doc/vorpex/copyright
./usr/share/doc/vorpex/guide.md
./usr/share/man/man1/vorpex-lsp.1.gz
./usr/share/man/man1/vorpex.1.gz"

for tarball in "${linux_tarballs[@]}"; do
  same "$tarball.tar.gz holds" "$(tar -tzf "$out/$tarball.tar.gz" | LC_ALL=C sort)" "$tarball/
$tarball/LICENSE
$tarball/README.md
$tarball/guide.md
$tarball/vorpex
$tarball/vorpex-lsp
$tarball/vorpex-lsp.1
$tarball/vorpex.1"
  # Whatever the umask of the build: files readable by all, the binaries and folders runnable by
  # all.
  same "$tarball.tar.gz's modes" \
    "$(tar -tvzf "$out/$tarball.tar.gz" | awk '{ print $1 }' | LC_ALL=C sort | uniq -c | awk '{ print $2 }')" \
    "-rw-r--r--
-rwxr-xr-x
drwxr-xr-x"
done

same "the Windows zip holds" "$(unzip -Z1 "$out/$windows.zip" | LC_ALL=C sort)" "$windows/
$windows/LICENSE
$windows/README.md
$windows/guide.md
$windows/vorpex-lsp.exe
$windows/vorpex-lsp.txt
$windows/vorpex.exe
$windows/vorpex.txt"

# The extension's client, bundled into one file with its runtime library, and no loose modules.
vsix_files=$(unzip -Z1 "$out/vorpex-$version.vsix")
for file in extension/dist/extension.js extension/dist/THIRD-PARTY-NOTICES.txt; do
  grep -qx "$file" <<<"$vsix_files" || fail "the .vsix holds no $file"
done
! grep -q '^extension/node_modules/' <<<"$vsix_files" || fail "the .vsix holds loose node modules"

# Each binary converts a program; the console and the output are the same bytes on all.
unzip -q "$out/$windows.zip" -d "$work"
printf 'define n = 5\nprint n\n' >"$work/prog.bas"
expected_console=$'vorpex '"$version"$' - BASIC source preprocessor\r\ninput file: prog.bas\r\noutput file: out.bas\r\nConvert success!\r'
expected_output=$'PRINT 5\r'
grep -q 'VORPEX(1)' "$work/$windows/vorpex.txt" || fail "vorpex.txt is not the manual"
grep -q 'VORPEX-LSP(1)' "$work/$windows/vorpex-lsp.txt" || fail "vorpex-lsp.txt is not its manual"
# The language server answers a session of initialize, shutdown and exit, and ends with 0.
lsp_message() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
{
  lsp_message '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
  lsp_message '{"jsonrpc":"2.0","id":2,"method":"shutdown"}'
  lsp_message '{"jsonrpc":"2.0","method":"exit"}'
} >"$work/session.in"
check_lsp() {  # check_lsp NAME COMMAND...: the reply to shutdown comes, and the status is 0
  local name=$1 reply
  shift
  reply=$("$@" <"$work/session.in" | tr -d '\0') || fail "$name: status $?"
  [[ $reply == *'{"id":2,"jsonrpc":"2.0","result":null}' ]] || fail "$name answered: $reply"
}
# Each Linux binary is static, for its machine, and runs: the boards' under qemu, with no root of
# their system's libraries.
for tarball in "${linux_tarballs[@]}"; do
  tar -C "$work" -xzf "$out/$tarball.tar.gz"
  run=()
  if [ -n "${runner[$tarball]}" ]; then
    command -v "${runner[$tarball]}" >/dev/null ||
      { fail "${runner[$tarball]} not found (qemu-user-static): $tarball was not run"; continue; }
    run=("${runner[$tarball]}")
  fi
  for program in vorpex vorpex-lsp; do
    header=$(readelf -lhW "$work/$tarball/$program")
    [[ $header != *"program interpreter"* ]] || fail "$tarball's $program is not static"
    machine_line=$(sed -n 's/^ *Machine: *//p' <<<"$header")
    same "$tarball's $program is for" "$machine_line" "${elf_machine[$tarball]}"
  done
  rm -f "$work/out.bas"
  console=$(cd "$work" && "${run[@]}" "$work/$tarball/vorpex" -i prog.bas -o out.bas) ||
    fail "$tarball's vorpex: status $?"
  same "$tarball's vorpex shows" "$console" "$expected_console"
  same "$tarball's vorpex writes" "$(cat "$work/out.bas")" "$expected_output"
  check_lsp "$tarball's vorpex-lsp" "${run[@]}" "$work/$tarball/vorpex-lsp"
done
if command -v wine >/dev/null; then
  rm -f "$work/out.bas"
  console=$(cd "$work" && WINEDEBUG=-all wine "$work/$windows/vorpex.exe" -i prog.bas -o out.bas) ||
    fail "vorpex.exe: status $?"
  same "vorpex.exe shows" "$console" "$expected_console"
  same "vorpex.exe writes" "$(cat "$work/out.bas")" "$expected_output"
  WINEDEBUG=-all check_lsp "vorpex-lsp.exe" wine "$work/$windows/vorpex-lsp.exe"
else
  echo "wine not found: vorpex.exe was not run"
fi

# The web playground: the site's files, and the page at work from the unpacked zip where chromium
# and the test's npm packages are there.
same "the web zip holds" "$(unzip -Z1 "$out/$web.zip" | LC_ALL=C sort)" "$web/
$web/app.js
$web/boot.js
$web/editor.js
$web/guide.txt
$web/index.html
$web/manual.txt
$web/releases.txt
$web/style.css
$web/sw.js
$web/vorpex.js
$web/vorpex_wasm.js
$web/vorpex_wasm.wasm
$web/worker.js"
unzip -q "$out/$web.zip" -d "$work"
tests=$(cd "$(dirname "$0")/.." && pwd)
if [ -x /usr/bin/chromium ] && [ -d "$tests/../web/node_modules/puppeteer-core" ]; then
  node "$tests/web/browser.mjs" "$work/$web" "$work/web-check" || fail "the web playground from $web.zip"
else
  echo "chromium or the web test's npm packages not found: the web playground was not run"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) of the release failed" >&2
  exit 1
fi
echo "release checked:" && cat "$out/SHA256SUMS"
