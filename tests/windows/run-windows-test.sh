#!/usr/bin/env bash
# The Windows program under wine, in the X server of $DISPLAY: builds it
# (tools/build-windows.sh, incremental) and drives its real windows as a user
# would, with xdotool for the keyboard and mouse and window-aid.exe (a Win32
# console aid) to find windows and read controls. Prints one PASS or FAIL line
# per check and fails when any check failed. It never skips: a missing tool
# fails the test with the reason.
#   run-windows-test.sh WORK_DIR WINDOWS_BUILD_DIR SCREEN_PROBE EXPECTED_SAVE
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
DVK_LIB_FUNCTIONS_ONLY=1 source "$top/tools/lib.sh"
work=$1 winbuild=$2 probe=$3 expected_save=$4
wine=/usr/lib/wine/wine64
failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
die() { echo "FAIL  $*"; exit 1; }

[[ -n "${DISPLAY:-}" ]] || die "needs an X display (tools/test.sh starts Xvfb)"
[[ -x "$wine" ]] || die "missing $wine (Debian package wine64)"
command -v xdotool >/dev/null || die "missing xdotool (Debian package xdotool)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || die "missing mingw-w64 (Debian package g++-mingw-w64-x86-64-posix)"

start=$(date +%s)
bash "$top/tools/build-windows.sh" "$winbuild" >"$work.build.log" 2>&1 ||
  { tail -30 "$work.build.log"; die "the Windows build failed (log: $work.build.log)"; }
echo "Windows build ready in $(( $(date +%s) - start )) s"
version=$(sed -n 's/^#define DVK_VERSION "\(.*\)"/\1/p' "$winbuild/core/Version.h")

rm -rf "$work"
mkdir -p "$work"
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Werror -static \
  "$top/tests/windows/WindowAid.cpp" -o "$work/window-aid.exe" -lgdi32 -lshell32 -loleacc -lole32 -loleaut32 || die "window-aid.exe did not build"

# A prefix of our own, without the .NET and HTML runtimes wine would offer.
# Wine's menu builder stays off: it would copy the prefix's Start menu and
# file associations into the desktop of the user running the test.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
"$wine" wineboot --init >/dev/null 2>&1 || die "wineboot failed"
trap '/usr/lib/wine/wineserver -k 2>/dev/null' EXIT

winpath() { echo "Z:${1//\//\\}"; }  # a Linux path as wine's drive Z sees it
# Wine decodes a program's arguments in the charset of the caller's locale:
# in UTF-8 always, so that a translated title ("über") arrives as written.
aid() { LC_ALL=C.UTF-8 "$wine" "$work/window-aid.exe" "$@" 2>>"$work/aid.log" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
main="Dravik Embosser Controller"
open_dialog="Please select the file to open"
save_dialog="Please select the file to save"

# Clicks the middle of the Nth edit field of a window and types into it,
# first deleting what it holds.
type_into() {  # title index text
  local rect
  rect=$(aid edits "$1" | sed -n "$(($2 + 1))p" | cut -d'|' -f1)
  [[ -n "$rect" ]] || return 1
  read -r x y w h <<<"$rect"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  xdotool key End $(printf 'BackSpace %.0s' {1..8})
  xdotool type --delay 20 "$3"
}
# Opens the menu bar's first menu (File) with the mouse and picks an item by
# its underlined letter.
file_menu() {  # title key
  local x y
  read -r x y < <(aid menubar "$1") || return 1
  xdotool mousemove "$x" "$y" click 1
  sleep 0.3
  xdotool key "$2"
}
# The main window's title as it is now: with "*" once the settings changed.
main_now() { if aid wait "$main*" 0 >/dev/null; then echo "$main*"; else echo "$main"; fi; }
field_texts() { aid edits "$1" | cut -d'|' -f2 | paste -sd, -; }
# A text of the windows in the language of the run ($language, a locale such
# as de_DE; English when empty), from the program's catalogues.
l10n() {
  if [[ -z "${language:-}" ]]; then printf '%s' "$1"
  else LC_ALL=$language.UTF-8 LANGUAGE=${language%_*} TEXTDOMAINDIR="$winbuild/locale" gettext -d dravik "$1"; fi
}
# The names that MSAA gives the main window's fields: their row and column.
check_names() {
  local name expected="" got
  for name in "Stamp current" "Stamp timeout (ms)" "Stamp delay (ms)" "Stamp Return current" "Stamp Return timeout (ms)" \
    "Stamp Return delay (ms)" "Replace Die current" "Replace Die timeout (ms)" "Replace Die delay (ms)" \
    "Paper Sensor sensitivity" "Paper Sensor activate time (ms)"; do expected+="$(l10n "$name")|"; done
  got=$(aid names "$main" | paste -sd'|')
  check "MSAA names the fields${language:+ in $language}: $got" test "$got|" = "$expected"
}

# Waits up to 20 s for the program to end; a program that does not is killed
# and counts as a failure.
program_ends() {
  local i
  for i in $(seq 200); do kill -0 "$program_pid" 2>/dev/null || { wait "$program_pid"; return 0; }; sleep 0.1; done
  kill "$program_pid" 2>/dev/null
  return 1
}

start_program() {  # exe -> pid in $program_pid, waits for the start-up open dialog
  "$wine" "$1" >>"$work/program.log" 2>&1 &
  program_pid=$!
  aid wait "$open_dialog" 60 >/dev/null
}

# --- Start-up, the open dialog, the main window, the keystroke filter -----
if start_program "$winbuild/dravik.exe"; then pass "start-up open dialog shown before the window"
else die "the start-up open dialog did not appear"; fi
check "main window not shown before the open dialog is answered" bash -c "! \"$wine\" \"$work/window-aid.exe\" wait '$main' 0.5 >/dev/null 2>&1"
aid click "$open_dialog" Cancel >/dev/null
rect=$(aid wait "$main" 20)
read -r _ _ width height <<<"$rect"
check "after Cancel: \"$main\", 380 x 310 (got ${width:-?} x ${height:-?})" test "$width $height" = "380 310"
check "eleven empty fields" test "$(field_texts "$main")" = ",,,,,,,,,,"
check_names
type_into "$main" 0 "1a2"
check "a letter typed into a field is refused (field reads $(aid edits "$main*" | head -1 | cut -d'|' -f2))" \
  test "$(aid edits "$main*" | head -1 | cut -d'|' -f2)" = "12"

# --- Open through the open dialog, Save As under another name -------------
printf '<Dravik_38417 version="100">\n  <Stamp current="120" timeout="500" delay="40"/>\n  <StampReturn current="100" timeout="500" delay="40"/>\n  <Replace current="150" timeout="900" delay="100"/>\n  <PaperSensor sensitivity="60" activate="250"/>\n</Dravik_38417>\n' >"$work/in.dvk"
file_menu "$main*" o
aid click "Save Settings?" "&No" >/dev/null || fail "\"Save before opening?\" not asked"
aid wait "$open_dialog" 20 >/dev/null
aid settext "$open_dialog" 0 "$(winpath "$work/in.dvk")"
aid click "$open_dialog" "&Open" >/dev/null
aid wait "$main" 20 >/dev/null
check "File > Open fills the fields" test "$(field_texts "$main")" = "120,500,40,100,500,40,150,900,100,60,250"
file_menu "$main" a
aid wait "$save_dialog" 20 >/dev/null
aid settext "$save_dialog" 0 "$(winpath "$work/saved")"
aid click "$save_dialog" Save >/dev/null
for _ in $(seq 50); do [[ -s "$work/saved.dvk" ]] && break; sleep 0.1; done
"$expected_save" "$work/in.dvk" >"$work/expected.dvk"
check "Save As writes exactly the bytes of the Linux program ($(stat -c %s "$work/saved.dvk" 2>/dev/null || echo no) bytes)" \
  cmp -s "$work/saved.dvk" "$work/expected.dvk"

# --- Saving over a hidden and a read-only file ------------------------------
# A hidden file is replaced and stays hidden; a read-only one is refused with
# the box and left as it was, with no temporary file beside it.
attributes() { "$wine" cmd /c attrib "$(winpath "$1")" 2>/dev/null | tr -d '\r' | cut -c1-12 | tr -d ' '; }
save_as() {  # path
  file_menu "$main" a
  aid wait "$save_dialog" 20 >/dev/null
  aid settext "$save_dialog" 0 "$(winpath "$1")"
  aid click "$save_dialog" Save >/dev/null
}
cp "$work/in.dvk" "$work/hidden.dvk"
cp "$work/in.dvk" "$work/readonly.dvk"
"$wine" cmd /c attrib +h "$(winpath "$work/hidden.dvk")" >/dev/null 2>&1
"$wine" cmd /c attrib +r "$(winpath "$work/readonly.dvk")" >/dev/null 2>&1
check "the files to save over are hidden and read-only ($(attributes "$work/hidden.dvk"), $(attributes "$work/readonly.dvk"))" \
  test "$(attributes "$work/hidden.dvk")|$(attributes "$work/readonly.dvk")" = "AH|AR"
save_as "$work/hidden.dvk"
for _ in $(seq 50); do cmp -s "$work/hidden.dvk" "$work/expected.dvk" && break; sleep 0.1; done
check "Save As over a hidden file writes it" cmp -s "$work/hidden.dvk" "$work/expected.dvk"
check "and it stays hidden ($(attributes "$work/hidden.dvk"))" test "$(attributes "$work/hidden.dvk")" = "AH"
save_as "$work/readonly.dvk"
check "Save As over a read-only file shows \"Save file error\"" aid wait "Save file error" 20
aid click "Save file error" OK >/dev/null
check "and leaves it as it was ($(attributes "$work/readonly.dvk"))" \
  bash -c "cmp -s '$work/readonly.dvk' '$work/in.dvk' && test '$(attributes "$work/readonly.dvk")' = AR"
check "no temporary file is left" test -z "$(find "$work" -maxdepth 1 -name '*.dvk-save-*')"

# --- Screen programming read off the screen by the optical probe ----------
example=(100 500 20 80 600 30 200 1000 0 128 250)
for i in "${!example[@]}"; do type_into "$(main_now)" "$i" "${example[$i]}"; done
check "the worked example typed in" test "$(field_texts "$main*")" = "$(IFS=,; echo "${example[*]}")"
aid click "$main*" Program >/dev/null
aid wait "Dravik - Screen Programmer" 20 >/dev/null || fail "the screen programmer did not open"
# Windows runs a time-critical thread (the worker asks for one) ahead of
# ordinary ones, but wine 8 passes no thread priority on to Linux; so the
# program and wine's server get the real-time scheduling that the Linux
# worker asks for itself, where this user may give it.
for pid in "$program_pid" $(pgrep -x wineserver); do
  chrt -a -f -p 4 "$pid" 2>>"$work/program.log" || echo "no real-time scheduling for $pid" >>"$work/program.log"
done
"$probe" --count 1 --timeout 60 >"$work/probe.log" 2>&1 &
probe_pid=$!
sleep 1
aid click "Dravik - Screen Programmer" Start >/dev/null
if wait "$probe_pid" && grep -q "57 14 57 9B 01 F4 00 14 AF 02 58 00 1E 37 03 E8 00 00 80 00 FA 67 39" "$work/probe.log"
then pass "the optical probe decodes the 23 bytes off wine's window"
else fail "the optical probe did not decode the message:"; sed 's/^/    /' "$work/probe.log"; fi
aid click "Dravik - Screen Programmer" Exit >/dev/null
check "the screen programmer closes" aid gone "Dravik - Screen Programmer" 10

# --- USB Program with no controller ---------------------------------------
aid click "$main*" "USB Program" >/dev/null
aid wait "Dravik - USB Programmer" 20 >/dev/null || fail "the USB programmer did not open"
check "the USB programmer lists nothing" test "$(aid count "Dravik - USB Programmer")" = 0
check "and says \"No controller found.\"" bash -c "\"$wine\" \"$work/window-aid.exe\" controls 'Dravik - USB Programmer' | tr -d '\r' | grep -qx 'Static|No controller found.'"
aid click "Dravik - USB Programmer" Exit >/dev/null
check "the USB programmer closes" aid gone "Dravik - USB Programmer" 10
# The command-line program, a console program beside it.
cli_out=$("$wine" "$winbuild/dravik-cli.exe" list 2>"$work/cli.err"); cli_status=$?
cli_err=$(tr -d '\r' <"$work/cli.err")
check "dravik-cli list says \"No controller found.\" with status 3 (got $cli_status: \"$cli_err\")" \
  test "$cli_status|${cli_out//$'\r'/}|$cli_err" = "3||No controller found."

# --- Placement stored by one run, restored by the next --------------------
aid move "$main*" 150 120 420 340
sleep 0.5
moved=$(aid wait "$main*" 5)
aid close "$main*"
aid click "Save Settings?" "&No" >/dev/null || fail "\"Save before exiting?\" not asked"
check "the program ends after No" program_ends
start_program "$winbuild/dravik.exe" || die "the second start showed no open dialog"
aid click "$open_dialog" Cancel >/dev/null
restored=$(aid wait "$main" 20)
check "placement restored by the next run ($moved -> $restored)" test "$restored" = "$moved"
aid close "$main"
program_ends || fail "the program did not end when closed"

# --- Display scales ----------------------------------------------------------
# One start per DPI (LogPixels), each checking all four windows: every
# control inside its parent, apart from its siblings and big enough for its
# text. The placement stored by each run is restored by the next one, at
# another DPI, with the same size in device-independent pixels.
placement='HKCU\Software\dravik\DravikControls\38417'
# As a new Windows session would, every process reads the new DPI: the
# desktop process and the server are started anew.
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w
}
stored() {  # the stored placement: "PosX PosY Width Height Maximized"
  local key value out=""
  for key in PosX PosY Width Height Maximized; do
    value=$("$wine" reg query "$placement" /v "$key" 2>/dev/null | tr -d '\r' | awk '/REG_DWORD/ { print $3 }')
    out+="$((${value:-0})) "
  done
  echo "${out% }"
}
layout() {  # what title [label points]
  local out what=$1; shift
  what+=" at $dpi DPI${language:+ in $language}"
  if out=$(aid layout "$@"); then pass "$what: $(tail -1 <<<"$out")"
  else fail "$what:"; sed 's/^/    /' <<<"$out"; fi
}
screen="Dravik - Screen Programmer" usb="Dravik - USB Programmer" about="Dravik - About"
scale_start() {  # dpi ["x y width height" expected]: starts on in.dvk
  dpi=$1
  set_dpi "$dpi"
  start_program "$winbuild/dravik.exe" || { fail "no start at $dpi DPI"; return 1; }
  aid settext "$open_dialog" 0 "$(winpath "$work/in.dvk")"
  aid click "$open_dialog" "&Open" >/dev/null
  local rect
  rect=$(aid wait "$main" 20)
  [[ -z "${2:-}" ]] || check "$dpi DPI: main window restored at $2 (got $rect)" test "$rect" = "$2"
}
# The four windows, with the main window not maximised: without a window
# manager wine leaves a maximised window's X window where it was, so the
# pointer would miss its menu.
snap() {  # title name: a screenshot for a person to look at, in work/screenshots
  local id
  id=$(dvk_find_window "^$1\$" 5) && import -window "$id" "$work/$2-$dpi${language:+-$language}.png" ||
    echo "no screenshot of \"$1\" at $dpi DPI"
}
scale_windows() {
  local about=$(l10n "$about") screen=$(l10n "$screen") usb=$(l10n "$usb") key=$(l10n "&About")
  key=${key#*&} key=${key,,}  # the item's underlined letter, as typed
  snap "$main" main
  layout "main window" "$main"
  file_menu "$main" Right && xdotool key "${key:0:1}"
  if aid wait "$about" 10 >/dev/null; then
    layout "About" "$about"
    snap "$about" about
    aid click "$about" "$(l10n OK)" >/dev/null
    aid gone "$about" 5 || fail "About did not close at $dpi DPI"
  else
    fail "Help > About did not open at $dpi DPI"
  fi
  aid click "$main" "$(l10n Program)" >/dev/null
  if aid wait "$screen" 10 >/dev/null; then
    [[ "$dpi" != 96 ]] || check "the screen programmer opens with Start focused ($(aid focus "$screen"))" \
      test "$(aid focus "$screen")" = "Button|Start"
    local panel
    panel=$(aid layout "$screen" | awk '/^panel/ { print $2, $3 }')
    check "$dpi DPI: the flashing panel keeps its proportions ($panel, 359 x 151 at 100 %)" \
      awk -v p="$panel" 'BEGIN { split(p, a, " "); r = a[1] / a[2]; exit !(a[2] > 0 && r > 1.8 && r < 3.0) }'
    aid click "$screen" "$(l10n Start)" >/dev/null
    for _ in $(seq 30); do aid click "$screen" "$(l10n Stop)" >/dev/null && break; sleep 0.1; done
    sleep 0.3
    layout "screen programmer, stopped" "$screen" "$(l10n "Programming...Stopped")" 14
    snap "$screen" screen-programmer
    aid click "$screen" "$(l10n Exit)" >/dev/null
    aid gone "$screen" 10 || fail "the screen programmer did not close at $dpi DPI"
  else
    fail "the screen programmer did not open at $dpi DPI"
  fi
  aid click "$main" "$(l10n "USB Program")" >/dev/null
  if aid wait "$usb" 10 >/dev/null; then
    layout "USB programmer" "$usb"
    snap "$usb" usb-programmer
    xdotool key Escape
    if aid gone "$usb" 5; then pass "$dpi DPI: Escape closes the USB programmer"
    else fail "$dpi DPI: Escape does not close the USB programmer"; aid click "$usb" "$(l10n Exit)" >/dev/null; fi
  else
    fail "the USB programmer did not open at $dpi DPI"
  fi
}
end_run() { aid close "$main"; program_ends || fail "the program did not end at $dpi DPI"; }

# A placement stored before the maximised state was: not maximised.
"$wine" reg delete "$placement" /v Maximized /f >/dev/null 2>&1
scale_start 144 "150 120 630 510"
check "144 DPI: an older placement opens not maximised" test "$(aid state "$main")" = normal
aid move "$main" 150 120 600 480
sleep 0.5
moved=$(aid wait "$main" 1)
scale_windows
end_run
check "moved to $moved at 144 DPI: stored in device-independent pixels ($(stored))" test "$(stored)" = "150 120 400 320 0"
scale_start 96 "150 120 400 320" && scale_windows
end_run
scale_start 192 "150 120 800 640" && scale_windows
aid maximize "$main"
for _ in $(seq 20); do [[ "$(aid state "$main")" = maximized ]] && break; sleep 0.1; done
end_run
check "closed maximised at 192 DPI: the normal rectangle and the state stored ($(stored))" \
  test "$(stored)" = "150 120 400 320 1"
scale_start 120
check "120 DPI: reopens maximised" test "$(aid state "$main")" = maximized
aid restore "$main"
sleep 0.5
check "120 DPI: restores to the stored rectangle ($(aid wait "$main" 1))" test "$(aid wait "$main" 1)" = "150 120 500 400"
scale_windows
end_run
# German at 150 %: the texts are longer; the file is given on the command
# line, so no open dialog (wine's own, in German) comes first.
language=de_DE dpi=144
set_dpi 144
LANG=de_DE.UTF-8 "$wine" "$winbuild/dravik.exe" "$(winpath "$work/in.dvk")" >>"$work/program.log" 2>&1 &
program_pid=$!
if aid wait "$main" 60 >/dev/null; then check_names; scale_windows; end_run; else fail "no start in German"; fi
language=""
set_dpi 96
mkdir -p "$work/screenshots" && mv "$work"/*-[0-9]*.png "$work/screenshots/" 2>/dev/null

# --- The installer ----------------------------------------------------------
setup="$winbuild/dravik-setup-$version.exe"
installed="$WINEPREFIX/drive_c/Program Files/Dravik"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Dravik Embosser Controller.lnk"
check "the installer exists: $(basename "$setup")" test -f "$setup"
"$wine" "$setup" /S >/dev/null 2>&1
check "silent install puts dravik.exe in Program Files" test -f "$installed/dravik.exe"
# Beside it the catalogues, the program's and the toolkit's, of every language.
catalogs=$(for po in "$top"/po/*.po; do
  printf "locale/$(basename "$po" .po)/LC_MESSAGES/%s\n" dravik.mo wxstd-3.2.mo; done | LC_ALL=C sort)
files_in() { (cd "$1" && find locale -type f | LC_ALL=C sort); }
check "and the catalogues beside it: $(files_in "$installed" | wc -l) files" test "$(files_in "$installed")" = "$catalogs"
check "and a Start menu entry" test -f "$shortcut"
if start_program "$installed/dravik.exe"; then
  aid click "$open_dialog" Cancel >/dev/null
  check "the installed program shows its main window" bash -c "\"$wine\" \"$work/window-aid.exe\" wait '$main' 20 >/dev/null"
  aid close "$main"
  program_ends || fail "the installed program did not end when closed"
else
  fail "the installed program did not start"
fi
"$wine" "$installed/uninstall.exe" /S >/dev/null 2>&1
# The uninstaller runs on from a copy of itself; wait for it.
for _ in $(seq 100); do [[ -e "$installed" || -e "$shortcut" ]] || break; sleep 0.2; done
check "uninstalling removes the program's folder" test ! -e "$installed"
check "and the Start menu entry" test ! -e "$shortcut"
check "and its entry in Apps and Features" bash -c \
  "! \"$wine\" reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DravikEmbosserController' >/dev/null 2>&1"

# --- Opening .dvk files from the shell; what the installer refuses --------
classes='HKLM\Software\Classes'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\DravikEmbosserController'
reg_value() {  # key [value name]: the data of the value (the key's default without a name)
  if [[ $# == 2 ]]; then set -- "$1" /v "$2"; else set -- "$1" /ve; fi
  "$wine" reg query "$@" 2>/dev/null | tr -d '\r' | sed -n 's/^ .*REG_[A-Z_]* *//p' | head -n1
}
uninstall_silently() {
  "$wine" "$installed/uninstall.exe" /S >/dev/null 2>&1
  for _ in $(seq 100); do [[ -e "$installed" ]] || break; sleep 0.2; done
}
# Opens a file through the shell's association, as a double click does, and
# checks that the program shows its values with the plain title.
start_file() {  # Windows path
  "$wine" cmd /c start "" "$1" >/dev/null 2>&1
  aid wait "$main" 60 >/dev/null
  check "start \"$1\": the installed program shows the file's values, title \"$main\"" \
    test "$(field_texts "$main")" = "120,500,40,100,500,40,150,900,100,60,250"
}
"$wine" "$setup" /S >/dev/null 2>&1; status=$?
check "silent install (exit code $status) registers .dvk as $(reg_value "$classes\\.dvk")" \
  test "$status|$(reg_value "$classes\\.dvk")" = "0|Dravik.SettingsFile"
check "named \"Dravik settings file\", opened by \"...\\dravik.exe\" \"%1\"" test \
  "$(reg_value "$classes\\Dravik.SettingsFile")|$(reg_value "$classes\\Dravik.SettingsFile\\shell\\open\\command")" = \
  'Dravik settings file|"C:\Program Files\Dravik\dravik.exe" "%1"'
check "and puts no shortcut on the desktop" test ! -e "$WINEPREFIX/drive_c/users/Public/Desktop/$main.lnk"

# A name with spaces and letters beyond ASCII, on drive Z, then as a UNC path
# (wine's \\host\share is a link under dosdevices/unc).
mkdir -p "$work/Presse à papier" "$WINEPREFIX/dosdevices/unc/dvkhost"
ln -sfn "$work" "$WINEPREFIX/dosdevices/unc/dvkhost/share"
cp "$work/in.dvk" "$work/Presse à papier/Réglage n°1.dvk"
start_file "$(winpath "$work/Presse à papier/Réglage n°1.dvk")"
"$wine" "$setup" /S >/dev/null 2>&1; status=$?
check "a silent install while the program runs is refused (exit code $status)" test "$status" = 3
# Run in place, the uninstaller gives its exit code to the caller; its "_?="
# argument must reach it unquoted, so it goes through a batch file.
printf '@"C:\\Program Files\\Dravik\\uninstall.exe" /S _?=C:\\Program Files\\Dravik\r\n@exit %%errorlevel%%\r\n' \
  >"$work/uninstall-in-place.bat"
"$wine" cmd /c "$(winpath "$work/uninstall-in-place.bat")" >/dev/null 2>&1; status=$?
check "and so is a silent uninstall (exit code $status)" test "$status" = 3 -a -f "$installed/dravik.exe"
aid quit "$main" >/dev/null || fail "the program did not end when closed"
start_file '\\dvkhost\share\Presse à papier\Réglage n°1.dvk'
aid quit "$main" >/dev/null || fail "the program did not end when closed"

# A newer version installed (as its installer leaves the registry) is not
# replaced by this one.
"$wine" reg add "$uninstall_key" /v DisplayVersion /d 99.0 /f >/dev/null 2>&1
"$wine" "$setup" /S >/dev/null 2>&1; status=$?
check "a silent install over a newer version is refused (exit code $status)" \
  test "$status|$(reg_value "$uninstall_key" DisplayVersion)" = "4|99.0"
"$wine" reg add "$uninstall_key" /v DisplayVersion /d "$version" /f >/dev/null 2>&1

uninstall_silently
check "uninstalling removes .dvk and its type" bash -c \
  "! \"$wine\" reg query '$classes\\.dvk' >/dev/null 2>&1 && ! \"$wine\" reg query '$classes\\Dravik.SettingsFile' >/dev/null 2>&1"
# Another program that took .dvk over keeps it.
"$wine" "$setup" /S >/dev/null 2>&1
"$wine" reg add "$classes\\Other.File" /ve /d Other /f >/dev/null 2>&1
"$wine" reg add "$classes\\.dvk" /ve /d Other.File /f >/dev/null 2>&1
uninstall_silently
check "but leaves .dvk to a program that took it over since ($(reg_value "$classes\\.dvk"))" \
  test "$(reg_value "$classes\\.dvk")" = Other.File

portable="$winbuild/dravik-$version-windows-x64.zip"
check "the portable archive $(basename "$portable") holds dravik.exe, dravik-cli.exe, README.txt and the catalogues" \
  test "$(cmake -E tar tf "$portable" 2>/dev/null | grep -v '/$' | LC_ALL=C sort)" = \
  "$(printf '%s\n' README.txt dravik-cli.exe dravik.exe $catalogs | LC_ALL=C sort)"

echo "windows checks: $failures failed, $(( $(date +%s) - start )) s in all"
((failures == 0))
