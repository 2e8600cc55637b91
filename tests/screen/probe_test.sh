#!/usr/bin/env bash
# The program shows the screen programmer with known settings and presses
# Start through its real button; the optical probe, a separate process that
# reads the panel's pixels off the X server, must receive exactly the message
# those settings give, with its checks passing. With STOPPER, the program's
# GUI thread is stopped from outside four times for 300 ms while it sends.
#   probe_test.sh DRIVER PROBE SETTINGS EXPECTED-HEX [STOPPER]
set -euo pipefail
driver=$1 probe=$2 settings=$3 expected=$4 stopper=${5:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$probe" --count 1 --timeout 60 >"$out/probe" 2>&1 &
probe_pid=$!
"$driver" --settings "$settings" >"$out/driver" 2>&1 &
driver_pid=$!
stopper_rc=0
if [[ -n "$stopper" ]]; then
  # Sending begins 3050 ms after Start and lasts about 15 s.
  until grep -q '^start' "$out/driver" || ! kill -0 "$driver_pid" 2>/dev/null; do sleep 0.05; done
  "$stopper" "$driver_pid" --after 3300 --stops 4 --every 2500 --ms 300 >"$out/stopper" 2>&1 || stopper_rc=$?
fi
driver_rc=0
wait "$driver_pid" || driver_rc=$?
probe_rc=0
wait "$probe_pid" || probe_rc=$?
cat "$out/driver" "$out/probe"
[[ -z "$stopper" ]] || cat "$out/stopper"

[[ $driver_rc -eq 0 ]] || { echo "FAIL: the driver ended with $driver_rc"; exit 1; }
[[ $stopper_rc -eq 0 ]] || { echo "FAIL: the stopper ended with $stopper_rc"; exit 1; }
[[ $probe_rc -eq 0 ]] || { echo "FAIL: the probe ended with $probe_rc"; exit 1; }
received=$(sed -n 's/^message 1: \(.*\) ([0-9]* bytes.*/\1/p' "$out/probe")
[[ "$received" == "$expected" ]] || { echo "FAIL: received '$received', expected '$expected'"; exit 1; }
echo "PASS"
