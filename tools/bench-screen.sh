#!/usr/bin/env bash
# Screen transmission benchmark: the program sends the worked-example
# settings five times (through its Program and Start buttons) while the
# optical probe watches the panel on the X server. Prints the pause error
# (measured minus nominal pause between swaps: median, 99th percentile,
# maximum of the absolute values) and each transmission's total time from
# Start to its last swap against the nominal 3000 ms + 500 ms per byte +
# 50 ms per 1 bit.
#   tools/bench-screen.sh [TRANSMISSIONS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-5}
build=${DVK_BUILD:-$top/build}

if [[ -z "${DISPLAY:-}" ]]; then
  "$top/tools/setup.sh"
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)" --target screen_driver dvk-screen-probe >/dev/null
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export NO_AT_BRIDGE=1 GDK_BACKEND=x11 GSETTINGS_BACKEND=memory
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$build/tools/screen-probe/dvk-screen-probe" --count "$count" --pauses --timeout $((30 + 25 * count)) \
  >"$tmp/probe" 2>&1 &
probe=$!
"$build/tests/screen/screen_driver" --transmissions "$count" >"$tmp/driver"
probe_rc=0
wait "$probe" || probe_rc=$?
if [[ $probe_rc -ne 0 ]]; then
  echo "the probe failed ($probe_rc):" >&2
  cat "$tmp/probe" >&2
  exit 1
fi
grep -E '^message|problem|WRONG' "$tmp/probe"

awk '$1 == "pause" { e = $3 - $4; print (e < 0 ? -e : e) }' "$tmp/probe" | sort -g >"$tmp/errors"
awk '
  FNR == 1 { file++ }
  file == 1 && $1 == "start" { start[++s] = $2 }
  file == 2 && $1 == "last-swap" { last[$2] = $3; nominal[$2] = $4 }
  END {
    printf "%-14s %12s %12s %10s\n", "transmission", "total (ms)", "nominal (ms)", "off"
    for (i = 1; i <= s; i++) {
      total = last[i] - start[i]
      printf "%-14d %12.1f %12.0f %+9.3f%%\n", i, total, nominal[i], 100 * (total - nominal[i]) / nominal[i]
    }
  }' "$tmp/driver" "$tmp/probe"
awk '{ v[NR] = $1 } END {
  p = int(0.99 * (NR - 1) + 0.5) + 1
  printf "pause error over %d pauses: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
    NR, (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[p], v[NR]
}' "$tmp/errors"
