#!/usr/bin/env bash
# Fuzzes the settings-file reader with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer for a bounded time, starting from the real files
# in tests/files/corpus (left unchanged; new inputs go to a scratch folder).
#   tools/fuzz-xml.sh [seconds]     default 60
# Prints the executions run and the crashes found; exits non-zero on a crash,
# leaving the input that caused it in build-fuzz/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$top/build-fuzz"
mkdir -p "$out"

clang++ -std=c++17 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra \
  -I"$top/files" -I"$top/app/core" \
  "$top/tests/files/XmlReaderFuzz.cpp" "$top/files/XML_Tag.cpp" \
  "$top/files/SettingsFile.cpp" "$top/app/core/Settings.cpp" "$top/app/core/Utf8.cpp" \
  -o "$out/xml_reader_fuzz"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
rm -f "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-*

status=0
"$out/xml_reader_fuzz" "$scratch" "$top/tests/files/corpus" \
  -dict="$top/tests/files/xml.dict" -max_total_time="$seconds" -max_len=16384 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$out/" \
  >"$out/fuzz.log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/fuzz.log" | tail -1)
crashes=$(find "$out" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
echo "xml reader fuzzing: ${seconds} s, executions: ${executions:-unknown}, crashes: ${crashes}"
if [[ $status -ne 0 || $crashes -ne 0 ]]; then
  tail -n 40 "$out/fuzz.log"
  echo "fuzzing failed (status $status); inputs kept in $out" >&2
  exit 1
fi
