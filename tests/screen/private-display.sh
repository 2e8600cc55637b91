#!/usr/bin/env bash
# Runs a command on an X server of its own (Xvfb, 1280x1024x24), which runs
# at a real-time priority where that is allowed. A desktop's display server
# is not held up by ordinary busy programs; on a shared test machine Xvfb
# would be, and a swap drawn on time would reach the pixels late. The
# optical tests measure the program, not the rest of the machine's load.
#   private-display.sh COMMAND [ARGS...]
source "$(dirname "$0")/../../tools/lib.sh"
dvk_start_xvfb
chrt -f -p 8 "$DVK_XVFB_PID" >/dev/null 2>&1 || true
"$@"
