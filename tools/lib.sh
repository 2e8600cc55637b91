# Shared by the project's shell scripts; sourced, never run:
#   source "$(dirname "$0")/lib.sh"          (from tools/)
#
# - Strict mode. A command that fails and ends the script names the script,
#   the line and the command, so no set-up step fails silently.
# - dvk_fail MESSAGE: says what failed, ends the script.
# - dvk_on_exit COMMAND: runs COMMAND when the script ends, however it
#   ends (the last registered first).
# - dvk_cache_dir: the cache outside the clone (the toolkit for Windows, the
#   Debian roots), ${DVK_CACHE:-$XDG_CACHE_HOME or ~/.cache/dravik}.
# - dvk_gui_env: the environment the program's windows are tested in.
# - dvk_start_xvfb: an X server of the script's own on a free display.
# - dvk_need_display: that server unless DISPLAY is set, and dvk_gui_env.
# - dvk_find_window NAME [SECONDS]: a visible window by name, searched for
#   as long as windows vanish under the search.
# A test script that reports its own failures sources it with
# DVK_LIB_FUNCTIONS_ONLY=1 set: it gets the functions without the strict
# mode and the traps (dvk_on_exit then runs nothing).

dvk_script=$(basename "$0")

dvk_fail() {
  echo "$dvk_script: $*" >&2
  exit 1
}

dvk_report_failure() {  # status line command
  echo "$dvk_script: line $2: '$3' failed (status $1)" >&2
}

dvk_exit_commands=()
dvk_on_exit() {
  dvk_exit_commands=("$1" "${dvk_exit_commands[@]}")
}
dvk_run_exit_commands() {
  local status=$? command
  trap - ERR
  for command in "${dvk_exit_commands[@]}"; do
    eval "$command" || true
  done
  return "$status"
}

dvk_cache_dir() {
  echo "${DVK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dravik}"
}

dvk_gui_env() {
  export NO_AT_BRIDGE=1 GDK_BACKEND=x11 GSETTINGS_BACKEND=memory
}

# Xvfb 1280x1024x24 on the first free display (Xvfb picks it itself, so two
# scripts never race for one), without TCP; DISPLAY is exported and
# DVK_XVFB_PID set. The server stops when the script ends.
dvk_start_xvfb() {
  command -v Xvfb >/dev/null || dvk_fail "Xvfb is missing (bash tools/setup.sh test installs it)"
  local dir server
  dir=$(mktemp -d "${TMPDIR:-/tmp}/dvk-xvfb.XXXXXX")
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$dir/display" 2>"$dir/log" &
  server=$!
  dvk_on_exit "kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf '$dir'"
  until [[ -s $dir/display ]]; do
    kill -0 "$server" 2>/dev/null || dvk_fail "Xvfb did not start: $(cat "$dir/log")"
    sleep 0.05
  done
  export DISPLAY=":$(head -n1 "$dir/display")"
  DVK_XVFB_PID=$server
}

dvk_need_display() {
  [[ -n ${DISPLAY:-} ]] || dvk_start_xvfb
  dvk_gui_env
}

# Prints the id of a visible window whose name matches the extended regular
# expression NAME, waiting up to SECONDS (default 30) for one; status 1 and
# nothing printed when none shows in time. A window that closes while
# xdotool walks the tree ends that search with BadWindow, and one found may
# be gone before it is used (a dialog closing as the next window opens):
# the search is made again, and only a window that still answers is printed.
dvk_find_window() {
  command -v xdotool >/dev/null || dvk_fail "xdotool is missing (bash tools/setup.sh test installs it)"
  local name=$1 end=$((SECONDS + ${2:-30})) id
  while :; do
    for id in $(xdotool search --onlyvisible --name "$name" 2>/dev/null); do
      if xdotool getwindowname "$id" >/dev/null 2>&1; then
        echo "$id"
        return 0
      fi
    done
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}

[[ -z ${DVK_LIB_FUNCTIONS_ONLY:-} ]] || return 0
set -eEuo pipefail
trap 'dvk_report_failure $? $LINENO "$BASH_COMMAND"' ERR
trap dvk_run_exit_commands EXIT
# A signal ends the script through exit, so the exit commands run.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
