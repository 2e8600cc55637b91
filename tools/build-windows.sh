#!/usr/bin/env bash
# Builds the Windows program and its installer on Linux: the toolkit for
# Windows (once, cached outside the clone), then dravik.exe with the
# mingw-w64 cross compilers, then the NSIS installer.
#   tools/build-windows.sh [build-dir [target...]]   (default: build-windows/, installer)
# Out come <build-dir>/dravik.exe, dravik-cli.exe and dravik-setup-<version>.exe;
# other targets of the Windows build (such as check-usb) may be named instead.
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
if (($# > 1)); then
  cmake --build "$build" -j"$(nproc)" --target "${@:2}"
else
  cmake --build "$build" -j"$(nproc)" --target installer
  ls "$build"/*.exe
fi
