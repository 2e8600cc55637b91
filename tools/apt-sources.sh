#!/usr/bin/env bash
# Prints this machine's apt sources for binary packages, one line per URI and
# suite, in the one-line style: "deb [options] URI suite components...".
# Reads /etc/apt/sources.list and the .list and .sources (deb822) files
# beside it; disabled stanzas and comments are left out. Scripts that need a
# mirror take it from here, never from a host of their own choosing.
source "$(dirname "$0")/lib.sh"
shopt -s nullglob
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [[ -f "$file" ]] && grep -E '^deb[[:space:]]' "$file" || true
done
for file in /etc/apt/sources.list.d/*.sources; do
  awk '
    function flush(  u, s, nu, ns, us, ss, options) {
      if (types ~ /(^| )deb( |$)/ && uris != "" && enabled != "no") {
        options = signed != "" ? "[signed-by=" signed "] " : ""
        nu = split(uris, us, " "); ns = split(suites, ss, " ")
        for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) print "deb " options us[u] " " ss[s] " " comps
      }
      types = uris = suites = comps = signed = enabled = ""
    }
    /^[[:space:]]*$/ { flush(); next }
    /^#/ { next }
    /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
    /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
    /^Components:/ { sub(/^Components:[[:space:]]*/, ""); comps = $0 }
    /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0 }
    /^Enabled:/ { sub(/^Enabled:[[:space:]]*/, ""); enabled = $0 }
    END { flush() }' "$file"
done
