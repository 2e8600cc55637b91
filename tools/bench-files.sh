#!/usr/bin/env bash
# Benchmark of the settings-file reader and writer: prints the times of the
# 257-byte file and of hostile 1 MB and 4 MB inputs.
#   tools/bench-files.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/build-bench"
mkdir -p "$out"
g++ -std=c++17 -O2 -Wall -Wextra -I"$top/files" -I"$top/app/core" \
  "$top/tools/bench_files.cpp" "$top/files/XML_Tag.cpp" "$top/files/SettingsFile.cpp" "$top/app/core/Settings.cpp" "$top/app/core/Utf8.cpp" \
  -o "$out/bench_files"
"$out/bench_files"
