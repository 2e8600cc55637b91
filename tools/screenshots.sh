#!/usr/bin/env bash
# Starts the program in Xvfb and takes screenshots of its windows into
# docs/screenshots: the start-up open dialog, the main window with example
# settings, the two programmer dialogs and the About box, with large text and
# in the high-contrast theme.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/docs/screenshots"
"$top/tools/setup.sh" run test
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target dravik >/dev/null
mkdir -p "$out"

# The main window once the start-up open dialog has been answered with Escape.
main_window() {
  window "Please select the file to open" >/dev/null
  sleep 0.5
  xdotool key Escape
  local id
  id=$(window "^Dravik Embosser Controller")
  sleep 0.5
  echo "$id"
}
window() {  # name: its id, or the script fails
  dvk_find_window "$1" 30 || dvk_fail "no window \"$1\" within 30 s"
}

# Types the example settings into the main window from its first field, at
# x y in the window, on; Tab walks the fields in order.
type_example() {  # window x y
  xdotool mousemove --window "$1" 20 20 windowfocus --sync "$1"
  xdotool mousemove --window "$1" "$2" "$3" click 1
  for v in 120 500 40 100 500 40 150 900 100 60 250; do
    xdotool type --delay 20 "$v"
    xdotool key Tab
  done
  sleep 0.3
}

body() {
  cd "$tmp"
  HOME="$tmp" "$top/build/dravik" &
  local pid=$!
  trap 'kill $pid 2>/dev/null || true' RETURN
  close() {  # window-name: Escape with the pointer (so the keyboard) on it
    xdotool mousemove --window "$(window "$1")" 20 20 key Escape
    sleep 0.5
  }
  shot() {  # window-name file
    local id
    id=$(window "$1")
    sleep 0.5
    import -window "$id" "$out/$2"
    echo "wrote $out/$2"
  }
  shot "Please select the file to open" open-dialog.png
  local main
  main=$(main_window)
  type_example "$main" 60 65
  shot "^Dravik Embosser Controller" main-window.png
  # Tab has reached "USB Program": open the USB programmer (no controller
  # attached here), then the screen programmer through "Program".
  xdotool key space
  shot "Dravik - USB Programmer" usb-programmer.png
  # Its Exit button (no Escape there: the dialog has no Cancel or OK button).
  xdotool mousemove --window "$(window "Dravik - USB Programmer")" 302 327 click 1
  sleep 0.5
  xdotool mousemove --window "$main" 190 100 key Tab space
  shot "Dravik - Screen Programmer" screen-programmer.png
  close "Dravik - Screen Programmer"
  xdotool mousemove --window "$main" 190 100
  xdotool key alt+h
  sleep 0.3
  xdotool key a
  shot "Dravik - About" about.png
  xdotool key Return
  sleep 0.3
}

# The main window again with text at 1.5 times its size (GDK_DPI_SCALE), as
# large-text settings show it: the window grows to what its layout needs.
large_text() {
  cd "$tmp"
  HOME="$tmp" GDK_DPI_SCALE=1.5 "$top/build/dravik" &
  local pid=$! main
  trap 'kill $pid 2>/dev/null || true' RETURN
  main=$(main_window)
  type_example "$main" 150 80
  import -window "$main" "$out/main-window-text-1.5.png"
  echo "wrote $out/main-window-text-1.5.png"
}

# The screen programmer counting down in GTK's high-contrast theme: the
# panel stays black and white.
high_contrast() {
  cd "$tmp"
  printf '<Dravik_38417 version="100">\r\n\t<Stamp current="120" timeout="500" delay="40"/>\r\n\t<StampReturn current="100" timeout="500" delay="40"/>\r\n\t<Replace current="150" timeout="900" delay="100"/>\r\n\t<PaperSensor sensitivity="60" activate="250"/>\r\n</Dravik_38417>\r\n' >example.dvk
  HOME="$tmp" GTK_THEME=HighContrastInverse "$top/build/dravik" example.dvk &
  local pid=$! main screen
  trap 'kill $pid 2>/dev/null || true' RETURN
  main=$(window "^Dravik Embosser Controller")
  sleep 0.5
  xdotool mousemove --window "$main" 178 287 click 1  # Program
  screen=$(window "Dravik - Screen Programmer")
  sleep 0.5
  xdotool key Return
  sleep 1.5
  import -window "$screen" "$out/screen-programmer-high-contrast.png"
  echo "wrote $out/screen-programmer-high-contrast.png"
}

dvk_need_display
tmp=$(mktemp -d)
dvk_on_exit "rm -rf '$tmp'"
body
large_text
high_contrast
