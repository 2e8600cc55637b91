#!/usr/bin/env bash
# Makes Debian's source packages reachable for apt-get source: writes a
# deb-src entry beside the system's own list, with the mirror, suites and
# components that list names for the binary packages (never a host of our
# own choosing), then updates the package lists. Does nothing when a deb-src
# entry for the main archive exists already. Needs root.
set -euo pipefail
entry=/etc/apt/sources.list.d/dravik-deb-src.list
if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  exit 0
fi
sudo=""
[[ $(id -u) -ne 0 ]] && sudo=sudo
lines=()
# One-line style: deb [options] URI suite components...
if [[ -f /etc/apt/sources.list ]]; then
  while read -r type rest; do
    [[ "$type" == deb ]] && lines+=("deb-src $rest")
  done < <(grep -E '^deb[[:space:]]' /etc/apt/sources.list || true)
fi
# deb822 style: stanzas with Types, URIs, Suites, Components; one line per
# URI and suite.
for file in /etc/apt/sources.list.d/*.sources; do
  [[ -f "$file" ]] || continue
  while IFS= read -r line; do lines+=("$line"); done < <(awk '
    function flush(  u, s, nu, ns, us, ss, options) {
      if (types ~ /(^| )deb( |$)/ && uris != "") {
        options = signed != "" ? "[signed-by=" signed "] " : ""
        nu = split(uris, us, " "); ns = split(suites, ss, " ")
        for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) print "deb-src " options us[u] " " ss[s] " " comps
      }
      types = uris = suites = comps = signed = ""
    }
    /^[[:space:]]*$/ { flush(); next }
    /^#/ { next }
    /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
    /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
    /^Components:/ { sub(/^Components:[[:space:]]*/, ""); comps = $0 }
    /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0 }
    END { flush() }' "$file")
done
((${#lines[@]})) || { echo "no deb entry found in the system's apt sources" >&2; exit 1; }
printf '%s\n' "${lines[@]}" | awk '!seen[$0]++' | $sudo tee "$entry" >/dev/null
echo "wrote $entry:" >&2
cat "$entry" >&2
$sudo apt-get update -qq
