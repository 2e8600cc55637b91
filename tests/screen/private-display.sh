#!/usr/bin/env bash
# Runs a command on an X server of its own (Xvfb, 1280x1024x24), which runs
# at a real-time priority where that is allowed. A desktop's display server
# is not held up by ordinary busy programs; on a shared test machine Xvfb
# would be, and a swap drawn on time would reach the pixels late. The
# optical tests measure the program, not the rest of the machine's load.
#   private-display.sh COMMAND [ARGS...]
set -euo pipefail
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/log" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$tmp"' EXIT
until [[ -s "$tmp/display" ]]; do
  kill -0 "$server" 2>/dev/null || { cat "$tmp/log" >&2; exit 1; }
  sleep 0.05
done
chrt -f -p 8 "$server" >/dev/null 2>&1 || true
DISPLAY=:$(cat "$tmp/display") "$@"
