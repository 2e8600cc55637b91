#!/usr/bin/env bash
# Starts the program in Xvfb and takes screenshots of its windows into
# docs/screenshots: the start-up open dialog, the main window with example
# settings, and the About box.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/docs/screenshots"
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target dravik >/dev/null
mkdir -p "$out"

body() {
  set -euo pipefail
  export NO_AT_BRIDGE=1 GDK_BACKEND=x11
  cd "$tmp"
  HOME="$tmp" GSETTINGS_BACKEND=memory "$top/build/dravik" &
  local pid=$!
  trap 'kill $pid 2>/dev/null || true' RETURN
  shot() {  # window-name file
    local id
    id=$(xdotool search --sync --onlyvisible --name "$1" | head -1)
    sleep 0.5
    import -window "$id" "$out/$2"
    echo "wrote $out/$2"
  }
  shot "Please select the file to open" open-dialog.png
  xdotool key Escape
  local main
  main=$(xdotool search --sync --onlyvisible --name "^Dravik Embosser Controller" | head -1)
  sleep 0.5
  # Example settings, typed field by field (Tab walks them in order).
  xdotool mousemove --window "$main" 190 100 windowfocus --sync "$main"
  xdotool mousemove --window "$main" 60 65 click 1
  for v in 120 500 40 100 500 40 150 900 100 60 250; do
    xdotool type --delay 20 "$v"
    xdotool key Tab
  done
  sleep 0.3
  shot "^Dravik Embosser Controller" main-window.png
  xdotool key alt+h
  sleep 0.3
  xdotool key a
  shot "Dravik - About" about.png
  xdotool key Return
  sleep 0.3
}

if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
body
