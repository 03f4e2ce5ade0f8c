#!/usr/bin/env bash
# Builds every release artifact into OUT_DIR (default build-artifacts/), then checks them:
#   vorpex_VERSION-1_ARCH.deb                 the Debian package (cpack -G DEB)
#   vorpex-VERSION-linux-MACHINE.tar.gz       static vorpex and vorpex-lsp with README, LICENSE,
#                                             guide, manual pages
#   vorpex-VERSION-linux-aarch64.tar.gz       the same for 64-bit ARM and for 32-bit ARM (armhf,
#   vorpex-VERSION-linux-armhf.tar.gz         ARMv7 with NEON), cross-built, run under qemu
#   vorpex-VERSION-windows-x86_64.zip         vorpex.exe and vorpex-lsp.exe with the same, the
#                                             manual pages as text
#   vorpex-VERSION.vsix                       the VS Code extension (packaging/vsix.sh)
#   vorpex-VERSION-web.zip                    the web playground's site (web/build.sh)
#   SHA256SUMS                                the sums of the others
# Needs g++, cmake, nlohmann-json3-dev, dpkg-dev, groff, zip, g++-mingw-w64-x86-64-posix,
# g++-aarch64-linux-gnu, g++-arm-linux-gnueabihf, node and npm, emscripten and node-acorn, wine to
# check the .exe and qemu-user-static the ARM binaries (and chromium to check the site).
# OUT_DIR is emptied first; a directory that holds anything else than an earlier run's artifacts
# is refused. The archives hold their files with the modes 644 and 755 and the time of the last
# commit (or SOURCE_DATE_EPOCH), whatever the umask and the clock of the build. The Debian
# package's maintainer is VORPEX_MAINTAINER="Name <address>", or else the author of the last
# commit; without either (a tree without git history) nothing is built.
# Usage: packaging/release.sh [OUT_DIR]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
maintainer=${VORPEX_MAINTAINER:-$(git -C "$source_dir" log -1 '--format=%an <%ae>' 2>/dev/null ||
  true)}
if [[ ! $maintainer =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ || $maintainer == *.invalid\> ]]; then
  echo "release: the Debian package needs a maintainer${maintainer:+, not '$maintainer'}: run" \
    "VORPEX_MAINTAINER=\"Name <address>\" $0${1:+ $1}, or from a git checkout, whose last" \
    "commit's author is taken" >&2
  exit 2
fi
out=$(mkdir -p "${1:-build-artifacts}" && cd "${1:-build-artifacts}" && pwd)
marker=$out/.vorpex-artifacts
if [ ! -e "$marker" ] && [ -n "$(ls -A "$out")" ]; then
  echo "release: $out is not empty and holds no earlier artifacts; name a new directory" >&2
  exit 2
fi
case $source_dir/ in "$out"/*)
  echo "release: $out holds the sources; name a directory inside or beside them" >&2
  exit 2 ;;
esac
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || date +%s)}
machine=$(uname -m)
version=$(sed -n 's/^project(vorpex VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
jobs=-j2

build() {  # build DIR CMAKE_ARGS...
  local dir=$1
  shift
  cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVORPEX_BUILD_TESTS=OFF \
    -DVORPEX_BUILD_BENCHMARKS=OFF "$@" >"$dir.log" 2>&1 &&
    cmake --build "$dir" $jobs --target vorpex vorpex-lsp >>"$dir.log" 2>&1 ||
    { cat "$dir.log" >&2; echo "release: the build in $dir failed" >&2; exit 1; }
}
# nlohmann-json is headers only: the cross builds get a directory with just its headers (all of
# /usr/include would bring the build machine's C library headers along).
[ -e /usr/include/nlohmann/json.hpp ] ||
  { echo "release: nlohmann-json is missing (apt-get install nlohmann-json3-dev)" >&2; exit 1; }

rm -rf "${out:?}"/*
touch "$marker"
mkdir -p "$out/json-include"
ln -sfn /usr/include/nlohmann "$out/json-include/nlohmann"
echo "== Debian package"
build "$out/build-deb" "-DVORPEX_MAINTAINER=$maintainer"
(cd "$out/build-deb" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) ||
  { cat "$out/cpack.log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"

# What every archive holds beside the binary.
stage_docs() {  # stage_docs DIR SUFFIX: the manuals as roff (.1, Linux) or as plain text (.txt)
  cp "$source_dir/README.md" "$source_dir/LICENSE" "$source_dir/docs/guide.md" "$1/"
  for page in vorpex vorpex-lsp; do
    if [ "$2" = .1 ]; then
      cp "$source_dir/man/$page.1" "$1/"
    else
      groff -man -Tascii -P-cbou "$source_dir/man/$page.1" >"$1/$page$2"
    fi
  done
  chmod -R u+w,go-w,a+rX "$1"
  find "$1" -exec touch -h -d "@$epoch" {} +
}

# A Linux tarball of the static binaries that the build in DIR made, stripped with STRIP.
linux_tarball() {  # linux_tarball DIR NAME STRIP
  mkdir -p "$out/$2"
  cp "$1/vorpex" "$1/vorpex-lsp" "$out/$2/"
  "$3" "$out/$2/vorpex" "$out/$2/vorpex-lsp"
  stage_docs "$out/$2" .1
  tar -C "$out" --owner=0 --group=0 --numeric-owner --sort=name -cf - "$2" |
    gzip -n >"$out/$2.tar.gz"
  rm -rf "${out:?}/$2"
}

echo "== Linux tarball (static binary)"
build "$out/build-static" -DCMAKE_EXE_LINKER_FLAGS=-static
linux_tarball "$out/build-static" "vorpex-$version-linux-$machine" strip

# The boards: 64-bit ARM (Raspberry Pi 3 and later with a 64-bit system, ARM laptops) and 32-bit
# ARM (armhf), cross-built with the toolchain files of the CI's own cross-builds.
for board in aarch64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
  name=${board%%:*} triple=${board#*:}
  [ "$name" = "$machine" ] && continue  # the tarball above
  echo "== Linux tarball for $name (static binary, cross-built)"
  build "$out/build-$name" --toolchain "$source_dir/cmake/$triple.cmake" \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DVORPEX_JSON_INCLUDE_DIR="$out/json-include"
  linux_tarball "$out/build-$name" "vorpex-$version-linux-$name" "$triple-strip"
done

echo "== Windows zip"
build "$out/build-windows" --toolchain "$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DVORPEX_JSON_INCLUDE_DIR="$out/json-include"
windows=vorpex-$version-windows-x86_64
mkdir -p "$out/$windows"
cp "$out/build-windows/vorpex.exe" "$out/build-windows/vorpex-lsp.exe" "$out/$windows/"
x86_64-w64-mingw32-strip "$out/$windows/vorpex.exe" "$out/$windows/vorpex-lsp.exe"
stage_docs "$out/$windows" .txt
(cd "$out" && find "$windows" | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$windows.zip")

echo "== VS Code extension"
bash "$source_dir/packaging/vsix.sh" "$out" >/dev/null

echo "== web playground"
web=vorpex-$version-web
bash "$source_dir/web/build.sh" "$out/build-web" >"$out/build-web.log" 2>&1 ||
  { cat "$out/build-web.log" >&2; echo "release: the site's build failed" >&2; exit 1; }
cp -r "$out/build-web/site" "$out/$web"
chmod -R u+w,go-w,a+rX "$out/$web" && find "$out/$web" -exec touch -h -d "@$epoch" {} +
(cd "$out" && find "$web" | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$web.zip")

rm -rf "${out:?}/$windows" "${out:?}/$web" "${out:?}/json-include"
(cd "$out" && sha256sum ./*.deb ./*.tar.gz ./*.zip ./*.vsix | sed 's| \./| |' >SHA256SUMS)
echo "== checking the artifacts"
bash "$source_dir/tests/package/check_release.sh" "$out" "$version" "$machine"
