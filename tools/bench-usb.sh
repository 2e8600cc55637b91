#!/usr/bin/env bash
# Opens the USB programmer over eight model controllers, one of which never
# answers, and measures the longest stall of the GUI event loop over 10 s of
# refreshes and three Program All clicks, each made during a refresh; prints
# it with the time from each click to its last mark.
# Arguments go to the program (--seconds S, --reply-delay-us U, --controllers N).
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DVK_BUILD_DIR:-$top/build}
"$top/tools/setup.sh" run test
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target usb_stall_bench >/dev/null
dvk_need_display
"$build/tools/usb-bench/usb_stall_bench" "$@"
