#!/usr/bin/env bash
# Benchmark of the settings-file reader and writer: prints the times of the
# 257-byte file and of hostile 1 MB and 4 MB inputs.
#   tools/bench-files.sh
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DVK_BUILD:-$top/build}
"$top/tools/setup.sh" run test
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_files >/dev/null
"$build/tools/bench/bench_files"
