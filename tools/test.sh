#!/usr/bin/env bash
# Installs what is missing (all three package lists), builds and runs every
# test. The GUI tests run in Xvfb when no display is set.
#   tools/test.sh            Release build, the whole suite
#   tools/test.sh address    AddressSanitizer + UndefinedBehaviorSanitizer build
#   tools/test.sh thread     ThreadSanitizer build, the threaded tests
# Further arguments go to ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
variant=release
if [[ $# -gt 0 && "$1" != -* ]]; then variant=$1; shift; fi
"$top/tools/setup.sh" run test lab

case "$variant" in
  release) build="$top/build"; sanitize=""; build_type=Release; select=() ;;
  address) build="$top/build-asan"; sanitize=address; build_type=RelWithDebInfo; select=(-LE 'kernel|cross|fuzz|windows|package') ;;
  thread)  build="$top/build-tsan"; sanitize=thread; build_type=RelWithDebInfo; select=(-L threaded) ;;
  *) echo "unknown variant: $variant" >&2; exit 2 ;;
esac

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DDVK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp"
export NO_AT_BRIDGE=1 GDK_BACKEND=x11 GSETTINGS_BACKEND=memory

run=(ctest --test-dir "$build" --output-on-failure "${select[@]}" "$@")
if [[ -z "${DISPLAY:-}" ]]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
