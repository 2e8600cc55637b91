#!/usr/bin/env bash
# The program shows the screen programmer with known settings and presses
# Start through its real button; the optical probe, a separate process that
# reads the panel's pixels off the X server, must receive exactly the message
# those settings give, with its checks passing.
#   probe_test.sh DRIVER PROBE SETTINGS EXPECTED-HEX
set -euo pipefail
driver=$1 probe=$2 settings=$3 expected=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$probe" --count 1 --timeout 60 >"$out/probe" 2>&1 &
probe_pid=$!
driver_rc=0
"$driver" --settings "$settings" >"$out/driver" 2>&1 || driver_rc=$?
probe_rc=0
wait "$probe_pid" || probe_rc=$?
cat "$out/driver" "$out/probe"

[[ $driver_rc -eq 0 ]] || { echo "FAIL: the driver ended with $driver_rc"; exit 1; }
[[ $probe_rc -eq 0 ]] || { echo "FAIL: the probe ended with $probe_rc"; exit 1; }
received=$(sed -n 's/^message 1: \(.*\) ([0-9]* bytes.*/\1/p' "$out/probe")
[[ "$received" == "$expected" ]] || { echo "FAIL: received '$received', expected '$expected'"; exit 1; }
echo "PASS"
