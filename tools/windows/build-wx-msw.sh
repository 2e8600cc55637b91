#!/usr/bin/env bash
# Builds wxWidgets 3.2 for Windows (MSW, 64-bit, static, posix-thread
# mingw-w64) from the source package of this release's own toolkit, and
# prints the folder it was installed to. Debian ships no MinGW build of the
# toolkit.
#
# The result is cached outside the clone, in
#   ${DVK_CACHE:-$XDG_CACHE_HOME or ~/.cache}/dravik/wx-msw-<version>-<key>
# where <key> is a hash of the configure options and the compiler version,
# so a later run on the same machine reuses it; a changed option builds anew.
#   tools/windows/build-wx-msw.sh            build if needed, print the prefix
#   tools/windows/build-wx-msw.sh --print    print the prefix only
source "$(dirname "$0")/../lib.sh"
here=$(cd "$(dirname "$0")" && pwd)

cache_root=$(dvk_cache_dir)
host=x86_64-w64-mingw32
cxx=$host-g++-posix
cc=$host-gcc-posix
command -v "$cxx" >/dev/null || dvk_fail "missing $cxx (Debian package g++-mingw-w64-x86-64-posix: bash tools/setup.sh lab)"

# Debian's dfsg tarball has the bundled zlib, libpng, libjpeg, libtiff and
# expat removed; the program needs none of them, nor the optional libraries
# switched off below.
# Accessibility (MSAA, wxAccessible) is on by default for MSW and stays on:
# app/Accessibility_windows.cpp does not build without it. The toolkit's
# catalogues (share/locale/<language>/LC_MESSAGES/wxstd-3.2.mo) are built
# and installed with it and shipped beside the program.
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

# The source package and its version are those of the installed Linux
# toolkit (the run list brings libwxgtk3.2-dev), so the cache key is known
# without any deb-src entry, on every release.
read -r src_package version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' libwxgtk3.2-dev 2>/dev/null) || true
[[ -n ${version:-} ]] || dvk_fail "cannot tell the toolkit's source package: libwxgtk3.2-dev is not installed (tools/setup.sh run installs it)"
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
dvk_on_exit "rm -rf '$work'"
start=$(date +%s)
echo "building wxWidgets $version for MSW into $prefix (about ten minutes on two cores)" >&2
(
  cd "$work"
  apt-get source --download-only "$src_package=$version" >/dev/null 2>&1 ||
    apt-get source --download-only "$src_package" >apt-source.log 2>&1 ||
    { cat apt-source.log >&2; dvk_fail "apt-get source $src_package failed"; }
  orig=$(ls "${src_package}"_*.orig.tar.* | head -1)
  mkdir src
  tar -xf "$orig" -C src --strip-components=1
  mkdir src/build-msw
  cd src/build-msw
  ../configure --prefix="$prefix" "${options[@]}" CXX="$cxx" CC="$cc" \
    CXXFLAGS="-O2" CFLAGS="-O2" >configure.log 2>&1 || { tail -40 configure.log >&2; dvk_fail "configuring the toolkit failed"; }
  make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log >&2; dvk_fail "building the toolkit failed"; }
  rm -rf "$prefix"
  make install >install.log 2>&1 || { tail -40 install.log >&2; dvk_fail "installing the toolkit into $prefix failed"; }
) >&2
# Only a complete installation counts; an interrupted one is built again.
touch "$prefix/.complete"
echo "built wxWidgets $version for MSW in $(( $(date +%s) - start )) s" >&2
echo "$prefix"
