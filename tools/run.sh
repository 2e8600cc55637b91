#!/usr/bin/env bash
# Installs what building and running need (tools/debian-packages-run.txt),
# builds the program alone (Release; no tests, no helper programs) and starts
# it. Run through sudo, the packages are installed as root but the program
# runs as the user who called sudo.
source "$(dirname "$0")/lib.sh"
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh" run
cmake -S "$top" -B "$top/build-run" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DDVK_BUILD_TOOLS=OFF >/dev/null
cmake --build "$top/build-run" --target dravik -j"$(nproc)"
program="$top/build-run/dravik"
user=${SUDO_USER:-}
if [[ $(id -u) -eq 0 && -n "$user" && "$user" != root ]]; then
  if runuser -u "$user" -- test -x "$program"; then
    home=$(getent passwd "$user" | cut -d: -f6)
    exec runuser -u "$user" -- env HOME="$home" USER="$user" LOGNAME="$user" "$program"
  fi
  echo "$dvk_script: $user cannot reach $program; starting it as root" >&2
fi
exec "$program"
