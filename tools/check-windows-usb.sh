#!/usr/bin/env bash
# Cross-compiles the Windows USB layer (SetupAPI, the HID attributes and
# overlapped Win32 file I/O) with the controller protocol into a console
# program, and runs it under wine64 with no controller present.
#   tools/check-windows-usb.sh [output-dir]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build-windows-usb}
cxx=x86_64-w64-mingw32-g++-posix
wine=/usr/lib/wine/wine64
command -v "$cxx" >/dev/null || { echo "missing $cxx (Debian package g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
[[ -x "$wine" ]] || { echo "missing $wine (Debian package wine64)" >&2; exit 1; }
mkdir -p "$out"

"$cxx" -std=c++17 -O2 -Wall -Wextra -Werror -static \
  -I"$top/usb" \
  "$top/usb/usb_dvk.cpp" "$top/usb/usb_dvk_win32.cpp" \
  "$top/usb/USBTimerDevice.cpp" "$top/usb/TimeText.cpp" \
  "$top/tools/windows-usb/CheckUsbWindows.cpp" \
  -lsetupapi -lhid -o "$out/check-usb.exe"
echo "built $out/check-usb.exe"

# A prefix of our own, without the .NET and HTML runtimes it would offer to
# install.
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" "$out/check-usb.exe"
