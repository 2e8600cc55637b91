#!/usr/bin/env bash
# Screen transmission benchmark: the program sends the worked-example
# settings N times (through its Program and Start buttons) while the optical
# probe watches the panel on the X server, first on an idle machine, then
# loaded: two CPU-bound processes run beside it and its GUI thread is stopped
# from outside four times for 300 ms during each transmission. For each it
# prints how many messages the probe decoded exactly, the pause error
# (|measured - nominal| pause between swaps: median, 99th percentile,
# maximum) as the probe saw it on the screen and as the worker sent it, and
# how far the transmissions' total times, from Start to the last
# swap, were off the nominal 3000 ms + 500 ms per byte + 50 ms per 1 bit.
#   tools/bench-screen.sh [N] [idle|loaded|both]      (default: 5 both)
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-5}
modes=${2:-both}
[[ $modes == both ]] && modes="idle loaded"
build=${DVK_BUILD:-$top/build}
expected="57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39"

if [[ -z "${DISPLAY:-}" ]]; then
  "$top/tools/setup.sh" run test
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)" --target screen_driver dvk-screen-probe dvk-thread-stopper >/dev/null
  exec "$top/tests/screen/private-display.sh" "$0" "$@"
fi
dvk_gui_env
tmp=$(mktemp -d)
busy=()
cleanup() {
  ((${#busy[@]} == 0)) || kill "${busy[@]}" 2>/dev/null
  rm -rf "$tmp"
}
dvk_on_exit cleanup

# Stops the driver's GUI thread (its main thread) four times during each
# transmission, the first time 250 ms after sending has begun.
stop_gui_thread() {
  local driver=$1 seen=0 started
  while kill -0 "$driver" 2>/dev/null; do
    started=$(grep -c '^start' "$tmp/driver" || true)
    if ((started > seen)); then
      seen=$started
      "$build/tools/thread-stopper/dvk-thread-stopper" "$driver" --after 3300 --stops 4 --every 2500 --ms 300 \
        >>"$tmp/stopper" 2>&1 || true
    fi
    sleep 0.05
  done
}

# Median, 99th percentile and maximum of the numbers on standard input.
stats() {
  sort -g | awk -v label="$1" '{ v[NR] = $1 } END {
    if (NR == 0) { print label ": none"; exit }
    p = int(0.99 * (NR - 1) + 0.5) + 1
    printf "%s over %d pauses: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
      label, NR, (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[p], v[NR]
  }'
}

run() {
  local mode=$1 probe driver stopper=""
  : >"$tmp/stopper"
  if [[ $mode == loaded ]]; then
    for _ in 1 2; do (while :; do :; done) & busy+=($!); done
  fi
  "$build/tools/screen-probe/dvk-screen-probe" --count "$count" --pauses --timeout $((30 + 25 * count)) \
    >"$tmp/probe" 2>&1 &
  probe=$!
  "$build/tests/screen/screen_driver" --transmissions "$count" >"$tmp/driver" 2>&1 &
  driver=$!
  if [[ $mode == loaded ]]; then
    stop_gui_thread "$driver" &
    stopper=$!
  fi
  wait "$driver" || echo "$mode: the driver failed" >&2
  wait "$probe" || true
  [[ -z $stopper ]] || wait "$stopper"
  if ((${#busy[@]})); then kill "${busy[@]}" 2>/dev/null; busy=(); fi

  local exact stops
  exact=$(grep -c "^message [0-9]*: $expected (" "$tmp/probe" || true)
  stops=$(grep -c '^stopped' "$tmp/stopper" || true)
  echo "$mode: $exact of $count messages decoded exactly; $stops GUI-thread stops of 300 ms; load $(cut -d' ' -f1-3 /proc/loadavg)"
  grep -E 'problem|timed out|no panel' "$tmp/probe" | sed "s/^/$mode: /" || true
  # As seen by the probe, and as sent by the worker (each pause taken as the
  # nearer of 50 and 100 ms; a pause of over 400 ms parts two transmissions).
  awk '$1 == "pause" { e = $3 - $4; print (e < 0 ? -e : e) }' "$tmp/probe" | stats "$mode: pause error seen"
  awk '$1 == "swap" {
    if (n++ && $2 - last < 400) { p = $2 - last; e = p - (p < 75 ? 50 : 100); print (e < 0 ? -e : e) }
    last = $2 }' "$tmp/driver" | stats "$mode: pause error sent"
  awk -v mode="$mode" '
    FNR == 1 { file++ }
    file == 1 && $1 == "start" { start[++s] = $2 }
    file == 2 && $1 == "last-swap" { last[$2] = $3; nominal[$2] = $4 }
    END {
      for (i = 1; i <= s; i++) {
        if (!(i in last)) continue
        off = 100 * (last[i] - start[i] - nominal[i]) / nominal[i]
        sum += off; n++
        if (n == 1 || off > max) max = off
      }
      if (n) printf "%s: total time from Start to the last swap off nominal: mean %+.3f%%, max %+.3f%%\n", mode, sum / n, max
    }' "$tmp/driver" "$tmp/probe"
}

for mode in $modes; do
  run "$mode"
done
