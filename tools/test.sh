#!/usr/bin/env bash
# Installs what is missing, builds and runs the tests. The GUI tests run in
# an X server of their own (Xvfb) when no display is set.
#   tools/test.sh            Release build, the whole suite (all three package lists)
#                            but the benchmarks (label bench)
#   tools/test.sh quick      the unit tests alone (label unit: no display, root,
#                            network or virtual machine), in the same build
#   tools/test.sh address    AddressSanitizer + UndefinedBehaviorSanitizer build
#   tools/test.sh thread     ThreadSanitizer build, the threaded tests
# Further arguments go to ctest.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
variant=release
if [[ $# -gt 0 && "$1" != -* ]]; then variant=$1; shift; fi

target=()
case "$variant" in
  release) lists=(run test lab); build="$top/build"; sanitize=""; build_type=Release; select=(-LE bench) ;;
  quick)   lists=(run test); build="$top/build"; sanitize=""; build_type=Release; select=(-L unit -j "$(nproc)"); target=(--target unit_tests) ;;
  address) lists=(run test); build="$top/build-asan"; sanitize=address; build_type=RelWithDebInfo; select=(-LE 'kernel|cross|fuzz|windows|package|bench') ;;
  thread)  lists=(run test); build="$top/build-tsan"; sanitize=thread; build_type=RelWithDebInfo; select=(-L threaded) ;;
  *) dvk_fail "unknown variant: $variant (quick, address or thread; none for the whole suite)" ;;
esac
"$top/tools/setup.sh" "${lists[@]}"
# The tests run in the locales of the program's languages too.
bash "$top/tools/locales.sh"

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DDVK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)" "${target[@]}"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
[[ $variant == quick ]] || dvk_need_display

ctest --test-dir "$build" --output-on-failure "${select[@]}" "$@"
