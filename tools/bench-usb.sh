#!/usr/bin/env bash
# Opens the USB programmer over eight model controllers, one of which never
# answers, and measures the longest stall of the GUI event loop over 10 s of
# refreshes and three Program All clicks, each made during a refresh; prints
# it with the time from each click to its last mark.
# Arguments go to the program (--seconds S, --reply-delay-us U, --controllers N).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DVK_BUILD_DIR:-$top/build}
"$top/tools/setup.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target usb_stall_bench >/dev/null
export NO_AT_BRIDGE=1 GDK_BACKEND=x11
bench=("$build/tools/usb-bench/usb_stall_bench" "$@")
if [[ -z "${DISPLAY:-}" ]]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${bench[@]}"
else
  "${bench[@]}"
fi
