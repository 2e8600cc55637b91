#!/usr/bin/env bash
# Builds the Windows program and its installer on Linux: the toolkit for
# Windows (once, cached outside the clone), then dravik.exe with the
# mingw-w64 cross compilers, then the NSIS installer.
#   tools/build-windows.sh [build-dir]     (default: build-windows/)
# Out come <build-dir>/dravik.exe, dravik-cli.exe, dravik-setup-<version>.exe
# and the portable archive dravik-<version>-windows-x64.zip.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-windows}
"$top/tools/setup.sh" run lab

wx=$(bash "$top/tools/windows/build-wx-msw.sh")
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DwxWidgets_CONFIG_EXECUTABLE="$wx/bin/wx-config" \
  -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF >/dev/null
# The installer depends on the programs it carries.
cmake --build "$build" -j"$(nproc)" --target installer portable
ls "$build"/*.exe "$build"/*.zip
