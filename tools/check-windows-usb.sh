#!/usr/bin/env bash
# Builds the Windows USB layer's check (target check-usb of the Windows
# build: SetupAPI, the HID attributes and overlapped Win32 file I/O with the
# controller protocol, as a console program) and runs it under wine64 with
# no controller present.
#   tools/check-windows-usb.sh [work-dir [windows-build-dir]]
#   (defaults: build-windows-usb/, build-windows/)
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$top/build-windows-usb}
build=${2:-$top/build-windows}
wine=/usr/lib/wine/wine64
mkdir -p "$work"
bash "$top/tools/build-windows.sh" "$build" check-usb >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; dvk_fail "the Windows build of check-usb failed (log: $work/build.log)"; }
[[ -x "$wine" ]] || dvk_fail "missing $wine (Debian package wine64: bash tools/setup.sh lab)"

# A prefix of our own, without the .NET and HTML runtimes it would offer to
# install.
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" "$build/tools/windows-usb/check-usb.exe"
