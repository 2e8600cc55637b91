#!/usr/bin/env bash
# Boots the kernel machine of the kernel tests and measures there, with 1, 16
# and 64 virtual controllers (and again with one of them silent), how long
# dravik-cli list and program and the USB programmer's refresh pass take:
# the CTest test kernel_bench_usb (label bench), about 5 minutes.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DVK_BUILD_DIR:-$top/build}
"$top/tools/setup.sh" run test lab
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || dvk_fail "cmake could not configure $build"
cmake --build "$build" -j2 --target usb_bench_guest dvk-uhid-controller dravik-cli >/dev/null ||
  dvk_fail "the benchmark's programs did not build (cmake --build $build --target usb_bench_guest)"
log="$build/tests/kernel/bench-usb.log"
status=0
ctest --test-dir "$build" -L bench -V >"$log" 2>&1 || status=$?
sed -n 's/^[0-9]*: //p' "$log" | sed -n -e 's/^DVK-BENCH: //p' -e '/^kernel_bench_usb: /p'
[[ $status == 0 ]] || dvk_fail "the benchmark failed (ctest status $status): see $log"
