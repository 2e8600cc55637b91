#!/usr/bin/env bash
# Builds the Windows USB layer's check (target check-usb: SetupAPI, the HID
# attributes and overlapped Win32 file I/O with the controller protocol, as
# a console program) in a Windows build of the toolkit-free parts alone
# (mingw-w64, DVK_BUILD_GUI off, so the toolkit for Windows is not needed),
# and runs it under wine64 with no controller present.
#   tests/usb/windows/check-windows-usb.sh [build-dir]     (default: build-windows-usb/)
source "$(dirname "$0")/../../../tools/lib.sh"
top=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$top/build-windows-usb}
wine=/usr/lib/wine/wine64
"$top/tools/setup.sh" run lab
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DDVK_BUILD_GUI=OFF -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target check-usb
[[ -x "$wine" ]] || dvk_fail "missing $wine (Debian package wine64: bash tools/setup.sh lab)"

# A prefix of our own, without the .NET and HTML runtimes it would offer to
# install.
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" "$build/tests/usb/windows/check-usb.exe"
