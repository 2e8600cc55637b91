#!/usr/bin/env bash
# Runs a window test (COMMAND [ARGS...]) on an X server of its own under a
# light EWMH window manager (openbox, Debian's), as every user's desktop has
# one: it decorates the windows, places them and answers maximise requests.
# The tests see it named in DVK_WINDOW_MANAGER.
source "$(dirname "$0")/../../tools/lib.sh"
command -v openbox >/dev/null || dvk_fail "openbox is missing (bash tools/setup.sh test installs it)"
command -v xprop >/dev/null || dvk_fail "xprop is missing (bash tools/setup.sh test installs x11-utils)"
dvk_start_xvfb
dvk_gui_env
log=$(mktemp "${TMPDIR:-/tmp}/dvk-openbox.XXXXXX")
dvk_on_exit "rm -f '$log'"
managing() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# Now and then openbox cannot open a display that has just come up: it is
# started again, up to three times.
for attempt in 1 2 3; do
  openbox --sm-disable >"$log" 2>&1 &
  manager=$!
  for _ in $(seq 100); do
    managing || ! kill -0 "$manager" 2>/dev/null && break
    sleep 0.05
  done
  managing && break
  { kill "$manager"; wait "$manager"; } 2>/dev/null || true
  sleep 0.2
done
managing || dvk_fail "openbox did not take the display: $(cat "$log")"
dvk_on_exit "kill $manager 2>/dev/null; wait $manager 2>/dev/null"
export DVK_WINDOW_MANAGER=openbox
"$@"
