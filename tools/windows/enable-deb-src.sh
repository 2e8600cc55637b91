#!/usr/bin/env bash
# Makes Debian's source packages reachable for apt-get source: writes a
# deb-src entry beside the system's own list, with the mirror, suites and
# components that list names for the binary packages (never a host of our
# own choosing), then updates the package lists. Does nothing when a deb-src
# entry for the main archive exists already. Needs root.
source "$(dirname "$0")/../lib.sh"
entry=/etc/apt/sources.list.d/dravik-deb-src.list
if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  exit 0
fi
sudo=""
[[ $(id -u) -ne 0 ]] && sudo=sudo
mapfile -t lines < <(bash "$(dirname "$0")/../apt-sources.sh" | sed 's/^deb[[:space:]]/deb-src /')
((${#lines[@]})) || dvk_fail "no deb entry found in the system's apt sources"
printf '%s\n' "${lines[@]}" | awk '!seen[$0]++' | $sudo tee "$entry" >/dev/null
echo "wrote $entry:" >&2
cat "$entry" >&2
$sudo apt-get update -qq || dvk_fail "apt-get update after writing $entry failed"
