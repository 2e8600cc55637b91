#!/usr/bin/env bash
# Builds wxWidgets 3.2 for Windows (MSW, 64-bit, static, posix-thread
# mingw-w64) from Debian's own source package, and prints the folder it was
# installed to. Debian ships no MinGW build of the toolkit.
#
# The result is cached outside the clone, in
#   ${DVK_CACHE:-$XDG_CACHE_HOME or ~/.cache}/dravik/wx-msw-<version>-<key>
# where <key> is a hash of the configure options and the compiler version,
# so a later run on the same machine reuses it; a changed option builds anew.
#   tools/windows/build-wx-msw.sh            build if needed, print the prefix
#   tools/windows/build-wx-msw.sh --print    print the prefix only
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

cache_root=${DVK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dravik}
host=x86_64-w64-mingw32
cxx=$host-g++-posix
cc=$host-gcc-posix
command -v "$cxx" >/dev/null || { echo "missing $cxx (Debian package g++-mingw-w64-x86-64-posix)" >&2; exit 1; }

# Debian's dfsg tarball has the bundled zlib, libpng, libjpeg, libtiff and
# expat removed; the program needs none of them, nor the optional libraries
# switched off below.
options=(
  --host=$host --build=x86_64-linux-gnu
  --disable-shared --with-msw
  --with-zlib=no --with-libpng=no --with-libjpeg=no --with-libtiff=no --with-expat=no
  --with-regex=builtin --without-liblzma --without-opengl --without-libcurl --without-nanosvg
  --disable-xrc --disable-html --disable-webview --disable-stc --disable-richtext
  --disable-propgrid --disable-ribbon --disable-aui --disable-mediactrl --disable-svg
  --disable-compat30 --disable-tests --disable-sound --disable-webrequest
  --disable-debugreport --disable-gif --disable-pcx --disable-iff --disable-pnm
  --disable-mshtmlhelp --disable-help --disable-postscript
)

# The toolkit's version is the one of the installed Linux toolkit (the run
# list brings it), so the cache key is known without any deb-src entry.
version=$(dpkg-query -W -f='${Version}' libwxbase3.2-1 2>/dev/null || true)
[[ -n "$version" ]] || { echo "build-wx-msw.sh: cannot tell the version of Debian's wxwidgets3.2: libwxbase3.2-1 is not installed (tools/setup.sh run installs it)" >&2; exit 1; }
key=$( { printf '%s\n' "${options[@]}"; "$cxx" --version | head -1; } | sha256sum | cut -c1-12)
prefix="$cache_root/wx-msw-${version//[:+~]/_}-$key"

if [[ "${1:-}" == --print ]]; then echo "$prefix"; exit 0; fi
if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi

# apt-get source needs a deb-src entry: one beside the system's own list,
# for the same mirror, suite and components.
bash "$here/enable-deb-src.sh" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/wx-msw.XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$(date +%s)
(
  cd "$work"
  apt-get source --download-only wxwidgets3.2="$version" >/dev/null 2>&1 ||
    apt-get source --download-only wxwidgets3.2 >/dev/null
  orig=$(ls wxwidgets3.2_*.orig.tar.* | head -1)
  mkdir src
  tar -xf "$orig" -C src --strip-components=1
  mkdir src/build-msw
  cd src/build-msw
  ../configure --prefix="$prefix" "${options[@]}" CXX="$cxx" CC="$cc" \
    CXXFLAGS="-O2" CFLAGS="-O2" >configure.log 2>&1 || { tail -40 configure.log >&2; exit 1; }
  make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log >&2; exit 1; }
  rm -rf "$prefix"
  make install >install.log 2>&1 || { tail -40 install.log >&2; exit 1; }
) >&2
# Only a complete installation counts; an interrupted one is built again.
touch "$prefix/.complete"
echo "built wxWidgets $version for MSW in $(( $(date +%s) - start )) s" >&2
echo "$prefix"
