#!/usr/bin/env bash
# Start-up benchmark: time from launch to the first mapped window (for the
# program, its start-up open dialog) and peak memory, for the program and
# for a minimal wxWidgets program with one empty frame, side by side.
#   tools/bench-startup.sh [RUNS]
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10}
"$top/tools/setup.sh" run test
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target dravik startup-probe minimal-frame >/dev/null

measure() {  # program -> prints "median_ms median_kib"
  local ms=() kib=()
  for ((i = 0; i < runs; i++)); do
    read -r m k < <(HOME="$tmp" "$top/build/tools/bench/startup-probe" "$1" 300)
    ms+=("$m"); kib+=("$k")
  done
  local mm kk
  mm=$(printf '%s\n' "${ms[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  kk=$(printf '%s\n' "${kib[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  echo "$mm $kk"
}

body() {
  read -r pm pk < <(measure "$top/build/dravik")
  read -r mm mk < <(measure "$top/build/tools/bench/minimal-frame")
  printf '%-22s %14s %16s\n' "program" "first map (ms)" "peak memory (KiB)"
  printf '%-22s %14s %16s\n' "dravik" "$pm" "$pk"
  printf '%-22s %14s %16s\n' "minimal frame" "$mm" "$mk"
  awk -v a="$pm" -v b="$mm" -v c="$pk" -v d="$mk" \
    'BEGIN { printf "ratio (dravik/minimal): time %.2f, memory %.2f  (medians of '"$runs"' runs)\n", a/b, c/d }'
}

dvk_need_display
tmp=$(mktemp -d)
dvk_on_exit "rm -rf '$tmp'"
body
