#!/usr/bin/env bash
# Builds every release artifact into OUT_DIR (default build-artifacts/), then checks them:
#   vorpex_VERSION-1_ARCH.deb                 the Debian package (cpack -G DEB)
#   vorpex-VERSION-linux-MACHINE.tar.gz       static vorpex and vorpex-lsp with README, LICENSE,
#                                             guide, manual pages
#   vorpex-VERSION-windows-x86_64.zip         vorpex.exe and vorpex-lsp.exe with the same, the
#                                             manual pages as text
#   vorpex-VERSION.vsix                       the VS Code extension (packaging/vsix.sh)
#   vorpex-VERSION-web.zip                    the web playground's site (web/build.sh)
#   SHA256SUMS                                the sums of the five
# Needs g++, cmake, nlohmann-json3-dev, dpkg-dev, groff, zip, g++-mingw-w64-x86-64-posix, node and
# npm, emscripten and node-acorn, and wine to check the .exe (and chromium to check the site).
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
# nlohmann-json is headers only: the Windows build gets a directory with just its headers.
[ -e /usr/include/nlohmann/json.hpp ] ||
  { echo "release: nlohmann-json is missing (apt-get install nlohmann-json3-dev)" >&2; exit 1; }

rm -rf "${out:?}"/*
touch "$marker"
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

echo "== Linux tarball (static binary)"
build "$out/build-static" -DCMAKE_EXE_LINKER_FLAGS=-static
linux=vorpex-$version-linux-$machine
mkdir -p "$out/$linux"
cp "$out/build-static/vorpex" "$out/build-static/vorpex-lsp" "$out/$linux/"
strip "$out/$linux/vorpex" "$out/$linux/vorpex-lsp"
stage_docs "$out/$linux" .1
tar -C "$out" --owner=0 --group=0 --numeric-owner --sort=name -cf - "$linux" |
  gzip -n >"$out/$linux.tar.gz"

echo "== Windows zip"
mkdir -p "$out/json-include"
ln -sfn /usr/include/nlohmann "$out/json-include/nlohmann"
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

rm -rf "${out:?}/$linux" "${out:?}/$windows" "${out:?}/$web" "${out:?}/json-include"
(cd "$out" && sha256sum ./*.deb ./*.tar.gz ./*.zip ./*.vsix | sed 's| \./| |' >SHA256SUMS)
echo "== checking the artifacts"
bash "$source_dir/tests/package/check_release.sh" "$out" "$version" "$machine"
