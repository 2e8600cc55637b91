#!/usr/bin/env bash
# Fuzzes the settings-file reader with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer for a bounded time, starting from the real files
# in tests/files/corpus (left unchanged; new inputs go to a scratch folder).
#   tools/fuzz-xml.sh [seconds]     default 60
# Prints the executions run and the crashes found; exits non-zero on a crash,
# leaving the input that caused it in build-fuzz/.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$top/build-fuzz"
"$top/tools/setup.sh" run lab

# A tree of its own, configured with clang and DVK_FUZZ (the libraries with
# coverage instrumentation and the sanitizers); only the fuzzer is built.
cmake -S "$top" -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDVK_FUZZ=ON \
  -DDVK_BUILD_GUI=OFF -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)" --target xml_reader_fuzz
fuzzer="$out/tests/fuzz/xml_reader_fuzz"

scratch=$(mktemp -d)
dvk_on_exit "rm -rf '$scratch'"
rm -f "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-*

status=0
"$fuzzer" "$scratch" "$top/tests/files/corpus" \
  -dict="$top/tests/files/xml.dict" -max_total_time="$seconds" -max_len=16384 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$out/" \
  >"$out/fuzz.log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/fuzz.log" | tail -1)
crashes=$(find "$out" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
echo "xml reader fuzzing: ${seconds} s, executions: ${executions:-unknown}, crashes: ${crashes}"
if [[ $status -ne 0 || $crashes -ne 0 ]]; then
  tail -n 40 "$out/fuzz.log"
  dvk_fail "fuzzing failed (status $status); inputs kept in $out"
fi
